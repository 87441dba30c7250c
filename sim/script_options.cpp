// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "script_options.h"

#include <fstream>
#include <sstream>

namespace rvtsim {

std::string loadScriptFile(const std::string& path, Script& script)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (!in)
        return "cannot read " + path;
    if (std::string err = parseScript(text.str(), script); !err.empty())
        return path + ": " + err;
    return {};
}

std::string applyScriptOption(Script& script, const std::string& name, const std::string& value)
{
    bool ok = true;
    try {
        if (name == "lock-replies") {
            script.replies[ElementKind::Lock] = parseReplyList(value);
        } else if (name == "unlock-replies") {
            script.replies[ElementKind::Unlock] = parseReplyList(value);
        } else if (name == "eop-reply") {
            size_t eq = value.find('=');
            ok = eq != std::string::npos;
            if (ok) {
                std::string code = value.substr(eq + 1);
                script.repliesAt[ElementKind::EndOfPage][std::stoi(value.substr(0, eq))] =
                    code == "-" ? Reply() : Reply(code);
            }
        } else if (name == "reply-delay") {
            size_t eq = value.find('=');
            ElementKind kind;
            ok = eq != std::string::npos && kindFromName(value.substr(0, eq), kind) &&
                 Script::isExchange(kind);
            if (ok)
                script.replyDelayMs[kind] = std::stoi(value.substr(eq + 1));
        } else if (name == "connected") {
            script.connected = parseIntList(value);
            ok = !script.connected.empty();
        } else if (name == "drain-delay") {
            script.drainDelayMs = {std::stoi(value)};
        } else if (name == "sigterm") {
            ok = parseTrigger(value, script.sigterm);
        } else if (name == "close-stream") {
            ok = parseTrigger(value, script.closeStream);
        } else if (name == "timeout") {
            script.timeoutSeconds = std::stod(value);
        } else {
            return "unknown option " + name;
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok)
        return "bad value for " + name + ": " + value;
    return {};
}

}  // namespace rvtsim
