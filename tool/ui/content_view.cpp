// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "content_view.h"

#include <QHBoxLayout>

namespace tervane::ui {

ContentView::ContentView(PrinterModel& model, QWidget* parent)
    : QWidget(parent), settingView_(new SettingView(model, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(settingView_);
}

}  // namespace tervane::ui
