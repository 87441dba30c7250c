// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The settings tool as an application: one window showing the content view,
// titled, laid out right to left for Persian and left to right otherwise.
#pragma once

#include "content_view.h"

#include <QLocale>
#include <QString>

#include <memory>

class QTranslator;

namespace tervane::ui {

class orviscannerApp {
public:
    // Builds the window over the model for the given locale (title and
    // layout direction); show() puts it on screen.
    explicit orviscannerApp(PrinterModel& model, const QLocale& locale = QLocale());
    ~orviscannerApp();
    orviscannerApp(const orviscannerApp&) = delete;
    orviscannerApp& operator=(const orviscannerApp&) = delete;

    void show();
    ContentView& window() const { return *window_; }

    // The window title, kept in left-to-right order.
    static QString windowTitle();
    // Right to left for Persian ("fa"), left to right for any other
    // language or none.
    static Qt::LayoutDirection layoutDirection(const QLocale& locale);
    // Loads the translation for the locale's languages from the embedded
    // files; false (and the Chinese texts stay) when none fits.
    static bool loadTranslation(QTranslator& translator, const QLocale& locale);

private:
    std::unique_ptr<ContentView> window_;
};

}  // namespace tervane::ui
