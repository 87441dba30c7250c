// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The commands of tervane-cli over a printer model of their own.

#include "cli.h"
#include "ip_settings_codec.h"
#include "printer_model.h"
#include "settings_check.h"
#include "usb_log.h"
#include "usb_platform.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

using tervane::Device;
using tervane::PrinterModel;

enum ExitStatus { kOk = 0, kFailed = 1, kUsage = 2, kNoPrinter = 3 };

// The model stores some alert texts untranslated; look them up (again).
QString modelText(const QString& text)
{
    return QCoreApplication::translate("tervane::PrinterModel", text.toUtf8().constData());
}

void printLine(std::ostream& out, const QString& line) { out << line.toStdString() << '\n'; }

void printAlert(std::ostream& out, const QString& title, const QString& message)
{
    const QString t = modelText(title);
    const QString m = modelText(message);
    printLine(out, t.isEmpty() ? m : t + ": " + m);
}

// The model's alert, with the hint (if any) on its own line under it.
void printAlert(std::ostream& out, const PrinterModel& model)
{
    printAlert(out, model.alertTitle(), model.alertMessage());
    if (!model.alertHint().isEmpty()) {
        printLine(out, modelText(model.alertHint()));
    }
}

// The printer numbered `number` (1-based) of those on the bus, or the exit
// status to end with. Only the bus is listed: no printer is talked to.
std::optional<Device> choosePrinter(PrinterModel& model, int number, int& status)
{
    model.getDeviceByIOUSB();
    const auto& list = model.printerList();
    if (list.isEmpty()) {
        model.raiseNoPrinterAlert();
        printAlert(std::cerr, model);
        status = kNoPrinter;
        return std::nullopt;
    }
    if (number < 1 || number > list.size()) {
        std::cerr << "no printer number " << number << " (" << list.size() << " found)\n";
        status = kNoPrinter;
        return std::nullopt;
    }
    return list.at(number - 1);
}

int runList(PrinterModel& model)
{
    model.getDeviceByIOUSB();
    const auto& list = model.printerList();
    if (list.isEmpty()) {
        model.raiseNoPrinterAlert();
        printAlert(std::cerr, model);
        return kNoPrinter;
    }
    char ids[32];
    for (int i = 0; i < list.size(); ++i) {
        const Device& d = list.at(i);
        std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(d.VID()),
                      static_cast<unsigned>(d.PID()));
        std::cout << (i + 1) << ": " << d.name() << " (USB " << ids << ")\n";
    }
    return kOk;
}

// One read of the chosen printer.
int runGet(PrinterModel& model, int number)
{
    int status = kOk;
    std::optional<Device> printer = choosePrinter(model, number, status);
    if (!printer) {
        return status;
    }
    PrinterModel::Outcome read = PrinterModel::readSettings(model.platform(), *printer);
    const bool succeeded = read.succeeded();
    model.setSelectedPrinter(*printer);
    model.applyReadOutcome(std::move(read));
    if (!succeeded) {
        printAlert(std::cerr, model);
        return kFailed;
    }
    const Device& d = model.selectedPrinter();
    std::cout << "printer: " << d.name() << '\n'
              << "mode: " << (d.ipSetType == tervane::kIPSetTypeStatic ? "static" : "DHCP") << '\n'
              << "ip: " << d.ip << '\n'
              << "mask: " << d.subNetMast << '\n'
              << "gateway: " << d.gateway << '\n';
    return kOk;
}

// The write sequence on the chosen printer; nothing is read first.
int runSet(PrinterModel& model, int number, const Device& settings)
{
    int status = kOk;
    std::optional<Device> printer = choosePrinter(model, number, status);
    if (!printer) {
        return status;
    }
    Device target = *printer;
    target.ip = settings.ip;
    target.subNetMast = settings.subNetMast;
    target.gateway = settings.gateway;
    target.ipSetType = settings.ipSetType;
    PrinterModel::Outcome written = PrinterModel::writeSettings(model.platform(), target);
    const bool succeeded = written.succeeded();
    model.setSelectedPrinter(target);
    model.applyWriteOutcome(std::move(written));
    printAlert(succeeded ? std::cout : std::cerr, model);
    return succeeded ? kOk : kFailed;
}

int usageError(const QCommandLineParser& parser, const QString& message)
{
    printLine(std::cerr, message);
    printLine(std::cerr, parser.helpText());
    return kUsage;
}

}  // namespace

// The compiled translations, embedded by the tervane_translations library.
static void initTranslationResources() { Q_INIT_RESOURCE(tervane_translations); }

int tervane::runTervaneCli(int argc, char** argv)
{
    initTranslationResources();
    // The program makes its application object here; a caller that already
    // has one (a test) keeps it.
    std::optional<QCoreApplication> ownApp;
    if (QCoreApplication::instance() == nullptr) {
        ownApp.emplace(argc, argv);
    }
    QCoreApplication::setApplicationName("tervane-cli");
    const QStringList arguments = [&] {
        QStringList list;
        for (int i = 0; i < argc; ++i) {
            list << QString::fromLocal8Bit(argv[i]);
        }
        return list;
    }();

    QTranslator translator;
    if (translator.load(QLocale(), "tervane", "_", ":/i18n")) {
        QCoreApplication::installTranslator(&translator);
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reads and writes the network settings of a supported printer attached by USB.\n\n"
        "Commands:\n"
        "  list                                  list the supported printers found\n"
        "  get [--printer N]                     show mode, address, mask and gateway\n"
        "  set --dhcp [--printer N]              let the printer take its address from DHCP\n"
        "  set --static ADDRESS MASK GATEWAY [--printer N]\n"
        "                                        give the printer a fixed address\n\n"
        "Exit status: 0 success, 1 the printer could not be read or set,\n"
        "2 wrong usage or invalid input, 3 no supported printer found.");
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption simulateOption(
        "simulate", "Use the simulated printer instead of the USB bus (also TERVANE_USB=sim).");
    const QCommandLineOption printerOption(
        "printer", "Use printer number N of the list (default 1).", "N", "1");
    const QCommandLineOption dhcpOption("dhcp", "set: take the address from DHCP.");
    const QCommandLineOption staticOption("static", "set: use the fixed ADDRESS MASK GATEWAY.");
    const QCommandLineOption verboseOption("verbose",
                                           "Write the USB diagnostics to standard error.");
    parser.addOptions({simulateOption, printerOption, dhcpOption, staticOption, verboseOption});
    parser.addPositionalArgument("command", "list, get or set");
    if (!parser.parse(arguments)) {
        return usageError(parser, parser.errorText());
    }
    // Qt registers --help-all beside --help; the tool has no toolkit
    // options to add, so both show the same text.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        printLine(std::cout, parser.helpText());
        return kOk;
    }

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        return usageError(parser, "missing command");
    }
    const QString command = args.first();
    bool numberOk = false;
    const int number = parser.value(printerOption).toInt(&numberOk);
    if (!numberOk) {
        return usageError(parser, "--printer needs a number");
    }

    // Check everything the user typed before the bus is touched.
    Device settings;
    if (command == "list" || command == "get") {
        if (args.size() != 1 || parser.isSet(dhcpOption) || parser.isSet(staticOption)) {
            return usageError(parser, "unexpected arguments for " + command);
        }
    } else if (command == "set") {
        if (parser.isSet(dhcpOption) == parser.isSet(staticOption)) {
            return usageError(parser, "set needs exactly one of --dhcp and --static");
        }
        if (parser.isSet(dhcpOption)) {
            if (args.size() != 1) {
                return usageError(parser, "set --dhcp takes no addresses");
            }
            settings.ipSetType = std::string(tervane::kIPSetTypeDHCP);
        } else {
            const tervane::SettingsProblem problem =
                args.size() != 4
                    ? tervane::incompleteSettings()
                    : tervane::checkSettings(args.at(1).toStdString(), args.at(2).toStdString(),
                                             args.at(3).toStdString());
            if (problem.message != nullptr) {
                printLine(std::cerr, tervane::settingsProblemTitle() + ": " +
                                         tervane::settingsProblemText(problem));
                return kUsage;
            }
            settings.ip = args.at(1).toStdString();
            settings.subNetMast = args.at(2).toStdString();
            settings.gateway = args.at(3).toStdString();
            settings.ipSetType = std::string(tervane::kIPSetTypeStatic);
        }
    } else {
        return usageError(parser, "unknown command " + command);
    }

    // The diagnostic lines are dropped, or go to standard error with
    // --verbose; standard output carries only the result.
    const tervane::usb::LogSinkScope logTo(
        parser.isSet(verboseOption) ? tervane::usb::streamSink(stderr) : tervane::usb::LogSink());
    const std::unique_ptr<tervane::usb::UsbPlatform> platform = tervane::makeUsbPlatform(
        parser.isSet(simulateOption));
    // The model does nothing by itself: each command talks to the printer it
    // names, and only as much as it needs.
    PrinterModel model(*platform, PrinterModel::Start::idle);
    int status = kOk;
    if (command == "list") {
        status = runList(model);
    } else if (command == "get") {
        status = runGet(model, number);
    } else {
        status = runSet(model, number, settings);
    }
    std::cout.flush();
    return status;
}
