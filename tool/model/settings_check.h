// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The checks that settings typed by the user pass before anything is sent,
// the same for the window and the command line: all three fields filled in,
// then the address, the mask and the gateway each a dotted quad, in that
// order; the first problem is the one reported.
#pragma once

#include <QString>

#include <string_view>

namespace tervane {

struct SettingsProblem {
    // The message, untranslated (its Chinese text, in the translation
    // context "tervane::SettingsCheck").
    const char* message = nullptr;
    // True for a malformed field, whose message the window keeps in
    // left-to-right order; false for the incomplete form.
    bool format = false;
};

// The first problem of the three fields, or an empty message when they pass.
SettingsProblem checkSettings(std::string_view ip, std::string_view mask, std::string_view gateway);
// The message when no printer was chosen, or the fields are incomplete.
SettingsProblem incompleteSettings();

// The problem's message in the user's language.
QString settingsProblemText(const SettingsProblem& problem);
// The title of every settings problem ("错误") in the user's language.
QString settingsProblemTitle();

}  // namespace tervane
