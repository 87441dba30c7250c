// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "settings_check.h"

#include "ipv4_pattern.h"

#include <QCoreApplication>

namespace tervane {

namespace {

constexpr const char* kContext = "tervane::SettingsCheck";

}  // namespace

SettingsProblem incompleteSettings()
{
    return {QT_TRANSLATE_NOOP("tervane::SettingsCheck", "请选择打印机且将信息填写完整"), false};
}

SettingsProblem checkSettings(std::string_view ip, std::string_view mask, std::string_view gateway)
{
    if (ip.empty() || mask.empty() || gateway.empty()) {
        return incompleteSettings();
    }
    if (!matchesIPv4Pattern(ip)) {
        return {QT_TRANSLATE_NOOP("tervane::SettingsCheck", "IP格式错误"), true};
    }
    if (!matchesIPv4Pattern(mask)) {
        return {QT_TRANSLATE_NOOP("tervane::SettingsCheck", "子网掩码格式错误"), true};
    }
    if (!matchesIPv4Pattern(gateway)) {
        return {QT_TRANSLATE_NOOP("tervane::SettingsCheck", "网关格式错误"), true};
    }
    return {};
}

QString settingsProblemText(const SettingsProblem& problem)
{
    return problem.message == nullptr ? QString()
                                      : QCoreApplication::translate(kContext, problem.message);
}

QString settingsProblemTitle()
{
    return QCoreApplication::translate(kContext,
                                       QT_TRANSLATE_NOOP("tervane::SettingsCheck", "错误"));
}

}  // namespace tervane
