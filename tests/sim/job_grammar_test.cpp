// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job_grammar.h"
#include "script.h"

#include <gtest/gtest.h>

namespace rvtsim {
namespace {

TEST(ReplyCode, IsTheFirstTokenOfAtMostFourCharacters)
{
    struct Case {
        Reply reply;
        int code;
    };
    const Case cases[] = {
        {"2", 2},        {"0002", 2},   {" 2", 2},  {"\n3\n", 3}, {"OK", 0},         {"", 0},
        {"30381", 3038}, {"4 busy", 4}, {"-3", -3}, {"12ab", 12}, {std::nullopt, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replyCode(c.reply), c.code) << (c.reply ? *c.reply : "<none>");
}

Element el(ElementKind k)
{
    Element e;
    e.kind = k;
    return e;
}

using K = ElementKind;

struct Step {
    ElementKind kind;
    Reply reply;
    bool fault;
};

struct GrammarCase {
    const char* name;
    std::vector<Step> steps;
    bool endFault;  // the job did not end properly
};

class JobGrammarCases : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(JobGrammarCases, FaultsWhereTheOrderBreaks)
{
    JobGrammar g;
    const auto& c = GetParam();
    for (size_t i = 0; i < c.steps.size(); ++i) {
        std::string fault = g.accept(el(c.steps[i].kind), c.steps[i].reply);
        EXPECT_EQ(!fault.empty(), c.steps[i].fault) << "step " << i << ": " << fault;
    }
    EXPECT_EQ(!g.finish().empty(), c.endFault);
}

const std::vector<Step> kJobAfterLock = {
    {K::StartOfJob, {}, false}, {K::JobHeader, {}, false},  {K::PageHeader, {}, false},
    {K::Data, {}, false},       {K::EndOfPage, "0", false}, {K::EndOfJob, {}, false},
};

std::vector<Step> join(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobGrammarCases,
    ::testing::Values(
        GrammarCase{"WholeJob",
                    join(join({{K::Lock, "2", false}}, kJobAfterLock), {{K::Unlock, "3", false}}),
                    false},
        GrammarCase{"LockRefusedThenGranted",
                    join(join({{K::Lock, "5", false},
                               {K::Lock, std::nullopt, false},
                               {K::Lock, "0002", false}},
                              kJobAfterLock),
                         {{K::Unlock, "1", false}, {K::Unlock, "4", false}}),
                    false},
        GrammarCase{
            "StartWithoutGrantedLock", {{K::Lock, "5", false}, {K::StartOfJob, {}, true}}, true},
        // Queries sent while the printer could not be reached arrive together.
        GrammarCase{"LockAgainAfterGrant", {{K::Lock, "2", false}, {K::Lock, "2", false}}, true},
        GrammarCase{"LockAgainAfterStart",
                    {{K::Lock, "2", false}, {K::StartOfJob, {}, false}, {K::Lock, "2", true}},
                    true},
        GrammarCase{"ZeroPageJob",
                    {{K::Lock, "2", false},
                     {K::StartOfJob, {}, false},
                     {K::JobHeader, {}, false},
                     {K::EndOfJob, {}, false},
                     {K::Unlock, "3", false}},
                    false},
        GrammarCase{"DataOutsidePage",
                    {{K::Lock, "2", false},
                     {K::StartOfJob, {}, false},
                     {K::JobHeader, {}, false},
                     {K::Data, {}, true}},
                    true},
        GrammarCase{"EndOfJobInsidePage",
                    {{K::Lock, "2", false},
                     {K::StartOfJob, {}, false},
                     {K::JobHeader, {}, false},
                     {K::PageHeader, {}, false},
                     {K::EndOfJob, {}, true}},
                    true},
        GrammarCase{"CancelEndsTheJobAnywhere",
                    {{K::Lock, std::nullopt, false}, {K::Cancel, "0", false}},
                    false},
        GrammarCase{"NothingAfterCancel",
                    {{K::Lock, "2", false}, {K::Cancel, {}, false}, {K::StartOfJob, {}, true}},
                    false},
        GrammarCase{"NothingAfterUnlock",
                    join(join({{K::Lock, "2", false}}, kJobAfterLock),
                         {{K::Unlock, "3", false}, {K::Unlock, "3", true}}),
                    false},
        GrammarCase{"UnlockBeforeEndOfJob",
                    {{K::Lock, "2", false}, {K::StartOfJob, {}, false}, {K::Unlock, "3", true}},
                    true},
        GrammarCase{"StreamCutAfterEndOfJob", join({{K::Lock, "2", false}}, kJobAfterLock), true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvtsim
