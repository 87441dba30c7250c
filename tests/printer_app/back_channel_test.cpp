// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer's replies as the application's IPP client sees them: a busy
// printer, a printer that cancels the job, a printer that says nothing, and a
// client's cancel while the printer is busy. One server; each case has a
// printer of its own on a simulator answering as the case asks.

#include "app_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace rvt::apptest {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class BackChannel : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = std::make_unique<WorkDir>("rvt-app-replies");
        server_ = std::make_unique<AppServer>();
        setupError_ = writeRaster((work_->path() / "pages.pwg").string(), RasterFormat::Pwg,
                                  {patternPage("text:600x800:1"), patternPage("noise:300x300:2"),
                                   patternPage("hgradient:600x400")});
        if (setupError_.empty())
            setupError_ = server_->start(work_->path());
    }

    static void TearDownTestSuite()
    {
        EXPECT_EQ(server_ ? server_->stop() : "", "");
        server_.reset();
        work_.reset();
    }

    // A printer named after the test on a simulator started with `options`;
    // the client for it.
    std::unique_ptr<IppClient> printerWith(const std::vector<std::string>& options)
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string error = sim_.start(work_->path() / name, options);
        if (error.empty())
            error = server_->addPrinter(name, sim_.uri());
        EXPECT_EQ(error, "");
        return error.empty()
                   ? std::make_unique<IppClient>(server_->port(), server_->printerUri(name))
                   : nullptr;
    }

    int submit(const IppClient& ipp)
    {
        std::string error;
        const int id = ipp.submit((work_->path() / "pages.pwg").string(), "image/pwg-raster",
                                  nullptr, sent_, error);
        EXPECT_GT(id, 0) << error;
        return id;
    }

    void TearDown() override
    {
        if (sent_.valid())
            sent_.wait_for(30s);
        sim_.stop();
    }

    static std::unique_ptr<WorkDir> work_;
    static std::unique_ptr<AppServer> server_;
    static std::string setupError_;
    Simulator sim_;
    std::future<ipp_status_t> sent_;
};

std::unique_ptr<WorkDir> BackChannel::work_;
std::unique_ptr<AppServer> BackChannel::server_;
std::string BackChannel::setupError_;

bool anyMessageHas(const std::vector<JobStatus>& seen, const std::string& text)
{
    for (const JobStatus& s : seen)
        if (s.message.find(text) != std::string::npos)
            return true;
    return false;
}

std::string history(const std::vector<JobStatus>& seen)
{
    std::string h;
    for (const JobStatus& s : seen) {
        h += "\n  ";
        h += s.describe();
    }
    return h;
}

TEST_F(BackChannel, LockRefusedTwiceThenGranted)
{
    ASSERT_EQ(setupError_, "");
    const auto ipp = printerWith({"--lock-replies", "5,5,2"});
    ASSERT_TRUE(ipp);
    const int id = submit(*ipp);
    ASSERT_GT(id, 0);
    std::vector<JobStatus> seen;
    const JobStatus end = ipp->waitForEnd(id, 30s, &seen);
    EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << history(seen);
    // While the printer was busy, the job said so.
    EXPECT_TRUE(anyMessageHas(seen, "busy")) << history(seen);

    const json t = sim_.transcript(1, 10s);
    const auto kinds = elementKinds(t);
    ASSERT_GE(kinds.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(kinds.begin(), kinds.begin() + 4),
              (std::vector<std::string>{"lock", "lock", "lock", "start_of_job"}));
    EXPECT_EQ(kinds.back(), "unlock");
    EXPECT_TRUE(t.value("clean", false)) << t["protocol_errors"].dump();
    EXPECT_EQ(t["pages"].size(), 3u);
}

TEST_F(BackChannel, PrinterCancelsAtSecondPageEnd)
{
    ASSERT_EQ(setupError_, "");
    const auto ipp = printerWith({"--eop-reply", "2=4"});
    ASSERT_TRUE(ipp);
    const int id = submit(*ipp);
    ASSERT_GT(id, 0);
    const JobStatus end = ipp->waitForEnd(id, 30s);
    EXPECT_EQ(end.state, IPP_JSTATE_CANCELED) << end.describe();
    EXPECT_TRUE(end.hasReason("job-canceled-at-device")) << end.describe();

    // The stream stops with the cancel right after page 2: no page 3, no end
    // of job, no unlock.
    const json t = sim_.transcript(1, 10s);
    const auto kinds = elementKinds(t);
    ASSERT_GE(kinds.size(), 2u) << t.dump(1);
    EXPECT_EQ(kinds.back(), "cancel");
    const json& elements = t["elements"];
    const json& beforeCancel = elements[elements.size() - 2];
    EXPECT_EQ(beforeCancel.value("kind", ""), "end_of_page");
    EXPECT_EQ(beforeCancel.value("page", 0), 2);
    for (const std::string& k : kinds) {
        EXPECT_NE(k, "end_of_job");
        EXPECT_NE(k, "unlock");
    }
}

TEST_F(BackChannel, SilentPrinterShowsOfflineUntilCancelled)
{
    ASSERT_EQ(setupError_, "");
    const auto ipp = printerWith({"--lock-replies", "-,-,-,-,-,-,-,-,-,-,-,-"});
    ASSERT_TRUE(ipp);
    const int id = submit(*ipp);
    ASSERT_GT(id, 0);
    // The job waits for the printer's answer; the printer shows offline.
    const auto start = Clock::now();
    bool offline = false;
    JobStatus s;
    while (!offline && Clock::now() - start < 25s) {
        std::this_thread::sleep_for(200ms);
        s = ipp->status(id);
        ASSERT_FALSE(s.ended()) << s.describe();
        for (const std::string& r : ipp->printerStateReasons())
            offline = offline || r == "offline";
    }
    EXPECT_TRUE(offline) << "no 'offline' in printer-state-reasons after 25 s";
    EXPECT_EQ(s.state, IPP_JSTATE_PROCESSING) << s.describe();
    std::printf(
        "offline shown after %lld ms; job: %s\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()),
        s.describe().c_str());

    ASSERT_EQ(ipp->cancelJob(id), IPP_STATUS_OK);
    const auto cancelled = Clock::now();
    const JobStatus end = ipp->waitForEnd(id, 30s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                            cancelled);
    std::printf("canceled %lld ms after the Cancel-Job; job: %s\n",
                static_cast<long long>(took.count()), end.describe().c_str());
    EXPECT_EQ(end.state, IPP_JSTATE_CANCELED) << end.describe();
    // The framework's device read waits up to 10 s for a silent printer.
    EXPECT_LT(took, 12s);
    // Once the job is over, the printer's state is no longer offline.
    for (const std::string& r : ipp->printerStateReasons())
        EXPECT_NE(r, "offline");
}

TEST_F(BackChannel, CancelWhileThePrinterIsBusy)
{
    ASSERT_EQ(setupError_, "");
    const auto ipp = printerWith({"--lock-replies", "5,5,5,5,5,5,5,5,5,5,5,5"});
    ASSERT_TRUE(ipp);
    const int id = submit(*ipp);
    ASSERT_GT(id, 0);
    const auto start = Clock::now();
    JobStatus s;
    while (s.message.find("busy") == std::string::npos && Clock::now() - start < 10s) {
        std::this_thread::sleep_for(50ms);
        s = ipp->status(id);
    }
    ASSERT_NE(s.message.find("busy"), std::string::npos) << s.describe();
    ASSERT_EQ(ipp->cancelJob(id), IPP_STATUS_OK);
    const auto cancelled = Clock::now();
    const JobStatus end = ipp->waitForEnd(id, 10s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                                            cancelled);
    std::printf("canceled %lld ms after the Cancel-Job\n", static_cast<long long>(took.count()));
    EXPECT_EQ(end.state, IPP_JSTATE_CANCELED) << end.describe();
    EXPECT_LT(took, 1s);

    const json t = sim_.transcript(1, 10s);
    const auto kinds = elementKinds(t);
    ASSERT_FALSE(kinds.empty()) << t.dump(1);
    EXPECT_EQ(kinds.back(), "cancel");
    EXPECT_EQ(kinds.front(), "lock");
}

}  // namespace
}  // namespace rvt::apptest
