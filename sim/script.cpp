// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "script.h"

#include <nlohmann/json.hpp>
#include <sstream>

namespace rvtsim {

using nlohmann::json;

Script::Script()
{
    replies[ElementKind::Lock] = {"2"};
    replies[ElementKind::EndOfPage] = {"0"};
    replies[ElementKind::Unlock] = {"3"};
    replies[ElementKind::Status] = {"0"};
    replies[ElementKind::Cancel] = {"0"};
}

bool Script::isExchange(ElementKind kind)
{
    return kind == ElementKind::Lock || kind == ElementKind::EndOfPage ||
           kind == ElementKind::Unlock || kind == ElementKind::Status ||
           kind == ElementKind::Cancel;
}

Reply Script::replyFor(ElementKind kind, int occurrence) const
{
    if (!isExchange(kind))
        return std::nullopt;
    if (auto at = repliesAt.find(kind); at != repliesAt.end())
        if (auto r = at->second.find(occurrence); r != at->second.end())
            return r->second;
    auto seq = replies.find(kind);
    if (seq == replies.end() || seq->second.empty())
        return std::nullopt;
    size_t i = std::min<size_t>(static_cast<size_t>(occurrence - 1), seq->second.size() - 1);
    return seq->second[i];
}

namespace {

Reply toReply(const json& j)
{
    if (j.is_null())
        return std::nullopt;
    if (j.is_number_integer())
        return std::to_string(j.get<long long>());
    return j.get<std::string>();
}

std::vector<int> toInts(const json& j)
{
    std::vector<int> out;
    if (j.is_array())
        for (const auto& v : j)
            out.push_back(v.get<int>());
    else
        out.push_back(j.get<int>());
    return out;
}

ElementKind kindOf(const std::string& name)
{
    ElementKind k;
    if (!kindFromName(name, k))
        throw std::runtime_error("unknown element kind \"" + name + "\"");
    return k;
}

Trigger toTrigger(const json& j)
{
    Trigger t;
    if (j.contains("after_ms")) {
        t.type = Trigger::Type::Delay;
        t.ms = j.at("after_ms").get<int>();
    } else if (j.contains("after_connected")) {
        t.type = Trigger::Type::Connected;
        t.count = j.at("after_connected").get<int>();
    } else if (j.contains("chunk")) {
        t.type = Trigger::Type::Chunk;
        t.page = j.value("page", 1);
        t.chunk = j.at("chunk").get<int>();
    } else if (j.contains("after")) {
        t.type = Trigger::Type::Element;
        t.kind = kindOf(j.at("after").get<std::string>());
        t.count = j.value("count", 1);
    } else {
        throw std::runtime_error(
            "a trigger needs \"after\", \"chunk\", \"after_connected\" or \"after_ms\"");
    }
    return t;
}

}  // namespace

std::string parseScript(const std::string& text, Script& script)
{
    try {
        json j = json::parse(text);
        if (j.contains("replies"))
            for (const auto& [name, value] : j.at("replies").items()) {
                std::vector<Reply> seq;
                if (value.is_array())
                    for (const auto& r : value)
                        seq.push_back(toReply(r));
                else
                    seq.push_back(toReply(value));
                script.replies[kindOf(name)] = seq;
            }
        if (j.contains("replies_at"))
            for (const auto& [name, table] : j.at("replies_at").items())
                for (const auto& [n, value] : table.items())
                    script.repliesAt[kindOf(name)][std::stoi(n)] = toReply(value);
        if (j.contains("reply_delay_ms"))
            for (const auto& [name, value] : j.at("reply_delay_ms").items())
                script.replyDelayMs[kindOf(name)] = value.get<int>();
        if (j.contains("connected"))
            script.connected = toInts(j.at("connected"));
        if (j.contains("drain_status"))
            script.drainStatus = toInts(j.at("drain_status"));
        if (j.contains("drain_delay_ms"))
            script.drainDelayMs = toInts(j.at("drain_delay_ms"));
        if (j.contains("sigterm"))
            script.sigterm = toTrigger(j.at("sigterm"));
        if (j.contains("close_stream"))
            script.closeStream = toTrigger(j.at("close_stream"));
        if (j.contains("stall_stream"))
            script.stallStream = toTrigger(j.at("stall_stream"));
        if (j.contains("timeout_s"))
            script.timeoutSeconds = j.at("timeout_s").get<double>();
    } catch (const std::exception& e) {
        return e.what();
    }
    for (auto* seq : {&script.connected, &script.drainStatus, &script.drainDelayMs})
        if (seq->empty())
            return "an empty status or delay list";
    return {};
}

bool parseTrigger(const std::string& text, Trigger& t)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string p; std::getline(in, p, ':');)
        parts.push_back(p);
    try {
        if (parts.size() == 2 && parts[0] == "ms") {
            t.type = Trigger::Type::Delay;
            t.ms = std::stoi(parts[1]);
            return true;
        }
        if (parts.size() == 2 && parts[0] == "connected") {
            t.type = Trigger::Type::Connected;
            t.count = std::stoi(parts[1]);
            return true;
        }
        if (parts.size() == 3 && parts[0] == "chunk") {
            t.type = Trigger::Type::Chunk;
            t.page = std::stoi(parts[1]);
            t.chunk = std::stoi(parts[2]);
            return true;
        }
        if (parts.size() == 2 && kindFromName(parts[0], t.kind)) {
            t.type = Trigger::Type::Element;
            t.count = std::stoi(parts[1]);
            return true;
        }
    } catch (const std::exception&) {
    }
    return false;
}

std::vector<Reply> parseReplyList(const std::string& text)
{
    std::vector<Reply> out;
    std::stringstream in(text);
    for (std::string p; std::getline(in, p, ',');)
        out.push_back(p == "-" ? Reply() : Reply(p));
    return out;
}

std::vector<int> parseIntList(const std::string& text)
{
    std::vector<int> out;
    std::stringstream in(text);
    for (std::string p; std::getline(in, p, ',');)
        out.push_back(std::stoi(p));
    return out;
}

}  // namespace rvtsim
