// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "app.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTranslator>

namespace tervane::ui {

orviscannerApp::orviscannerApp(PrinterModel& model, const QLocale& locale)
{
    // The direction is the whole application's, so that the alert follows
    // the window.
    const Qt::LayoutDirection direction = layoutDirection(locale);
    QGuiApplication::setLayoutDirection(direction);
    window_ = std::make_unique<ContentView>(model);
    window_->setWindowTitle(windowTitle());
    window_->setLayoutDirection(direction);
}

orviscannerApp::~orviscannerApp() = default;

void orviscannerApp::show()
{
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QString orviscannerApp::windowTitle()
{
    return leftToRight(QCoreApplication::translate("orviscannerApp", "IP设置工具"));
}

Qt::LayoutDirection orviscannerApp::layoutDirection(const QLocale& locale)
{
    return locale.language() == QLocale::Persian ? Qt::RightToLeft : Qt::LeftToRight;
}

bool orviscannerApp::loadTranslation(QTranslator& translator, const QLocale& locale)
{
    return translator.load(locale, QStringLiteral("tervane"), QStringLiteral("_"),
                           QStringLiteral(":/i18n"));
}

}  // namespace tervane::ui
