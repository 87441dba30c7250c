// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Tervane: the printer's network settings window.
//
//   Tervane [--simulate]
//
// --simulate (or TERVANE_USB=sim in the environment) opens the window on the
// simulated bus with one virtual printer instead of the real USB devices.
// The texts follow the locale: English where a translation exists, Chinese
// otherwise.

#include "app.h"
#include "rvt_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <QTranslator>

#include <iostream>
#include <memory>

int main(int argc, char* argv[])
{
    if (rvt::printedVersion(argc, argv, "Tervane"))
        return 0;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tervane"));
    QApplication::setDesktopFileName(QStringLiteral("tervane"));

    QTranslator translator;
    if (tervane::ui::orviscannerApp::loadTranslation(translator, QLocale())) {
        QApplication::installTranslator(&translator);
    }

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption simulate(QStringLiteral("simulate"),
                                QStringLiteral("Use the simulated bus with one virtual printer."));
    parser.addOption(simulate);
    // Saves a picture of the window once it is up, then quits (used to make
    // the documentation's screenshots).
    QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                  QStringLiteral("Save the window to FILE and quit."),
                                  QStringLiteral("FILE"));
    screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshot);
    parser.process(application);

    // The bus and the model live as long as the window; the model already
    // searches the bus and reads the first printer it finds.
    const std::unique_ptr<tervane::usb::UsbPlatform> platform = tervane::makeUsbPlatform(
        parser.isSet(simulate));
    tervane::PrinterModel model(*platform);
    tervane::ui::orviscannerApp app(model);
    app.show();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(1000, &application, [&app, &application, file] {
            const bool saved = app.window().grab().save(file, "PNG");
            if (!saved) {
                std::cerr << "Tervane: cannot write " << file.toStdString() << '\n';
            }
            application.exit(saved ? 0 : 1);
        });
    }
    return application.exec();
}
