// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The window's content: the settings form, alone in a horizontal row.
#pragma once

#include "setting_view.h"

#include <QWidget>

namespace tervane::ui {

class ContentView : public QWidget {
    Q_OBJECT

public:
    explicit ContentView(PrinterModel& model, QWidget* parent = nullptr);

    SettingView& settingView() const { return *settingView_; }

private:
    SettingView* settingView_;
};

}  // namespace tervane::ui
