// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "printer_model.h"

#include "sim_printer.h"
#include "usb_test_support.h"

#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include <thread>

using namespace tervane;
using namespace tervane::test;
using usb::sim::SimulatedBus;
using Action = usb::sim::VirtualPrinter::Action;

namespace {

struct Attached {
    std::uint16_t vid;
    std::uint16_t pid;
};

class ModelBench {
public:
    ModelBench() { bus.setTimeScale(0.05); }

    std::shared_ptr<RecordingPrinter> plug(Attached ids, NetworkSettings settings = {})
    {
        auto printer = std::make_shared<RecordingPrinter>(settings, ids.vid, ids.pid);
        bus.plug(printer);
        printers.push_back(printer);
        return printer;
    }

    // Makes the model (which searches the bus and reads the first printer)
    // with the diagnostics captured.
    PrinterModel& makeModel()
    {
        const usb::test::LoggedLines logged;
        model = std::make_unique<PrinterModel>(bus);
        log = logged.lines();
        return *model;
    }

    // Notes every change signal of the model, in order.
    void watch()
    {
        QObject::connect(model.get(), &PrinterModel::showAlertChanged,
                         [this] { signals_.push_back("showAlert"); });
        QObject::connect(model.get(), &PrinterModel::alertTitleChanged,
                         [this] { signals_.push_back("alertTitle"); });
        QObject::connect(model.get(), &PrinterModel::alertMessageChanged,
                         [this] { signals_.push_back("alertMessage"); });
        QObject::connect(model.get(), &PrinterModel::selectedPrinterChanged,
                         [this] { signals_.push_back("selectedPrinter"); });
        QObject::connect(model.get(), &PrinterModel::printerListChanged,
                         [this] { signals_.push_back("printerList"); });
    }

    SimulatedBus bus;
    std::vector<std::shared_ptr<RecordingPrinter>> printers;
    std::unique_ptr<PrinterModel> model;
    std::vector<std::string> log;
    std::vector<std::string> signals_;
};

constexpr Attached kSupported{0x356C, 0x0033};
const std::vector<std::string> kReadEvents{"OUT CheckDHCPToggle?", "IN", "OUT CheckIP?", "IN"};

}  // namespace

TEST(PrinterModel, SearchOfTheBus)
{
    struct Case {
        const char* label;
        std::vector<Attached> attached;
        int listed;
        std::vector<std::string> logLines;     // must appear
        std::vector<std::string> absentLines;  // must not appear
    };
    const std::vector<Case> cases{
        {"nothing", {}, 0, {}, {}},
        {"supported",
         {kSupported},
         1,
         {" find device pid = 51 and vid = 13676", "find orvi device pid  = 51 and vid = 13676",
          " find orvi device  pid = 51 and vid = 13676"},
         {}},
        {"vendor_match_other_product",
         {{0x356C, 0x0034}},
         0,
         {" find device pid = 52 and vid = 13676", "find orvi device pid  = 52 and vid = 13676"},
         {" find orvi device  pid = 52 and vid = 13676"}},
        {"product_match_other_vendor",
         {{0x1234, 0x0033}},
         0,
         {" find device pid = 51 and vid = 4660"},
         {"find orvi device pid  = 51 and vid = 4660"}},
        {"two_supported", {kSupported, kSupported}, 2, {}, {}},
        {"supported_after_other", {{0x1234, 0x0033}, kSupported}, 1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ModelBench bench;
        for (const Attached& a : c.attached) {
            bench.plug(a);
        }
        PrinterModel& model = bench.makeModel();
        EXPECT_EQ(bench.bus.claimsHeld(), 0u) << "interface kept";

        ASSERT_EQ(model.printerList().size(), c.listed);
        for (const std::string& line : c.logLines) {
            EXPECT_TRUE(hasLine(bench.log, line)) << line;
        }
        for (const std::string& line : c.absentLines) {
            EXPECT_FALSE(hasLine(bench.log, line)) << line;
        }
        if (c.listed == 0) {
            EXPECT_TRUE(model.showAlert());
            EXPECT_EQ(model.alertTitle(), QString("错误"));
            EXPECT_EQ(model.alertMessage(), QString("未查找到适配的打印机"));
            const Device& placeholder = model.selectedPrinter();
            EXPECT_EQ(placeholder.name(), "");
            EXPECT_EQ(placeholder.ipSetType, "D");
            EXPECT_EQ(placeholder.ip, "");
            EXPECT_EQ(placeholder.PID(), 0);
            EXPECT_EQ(placeholder.VID(), 0);
            for (const auto& printer : bench.printers) {
                EXPECT_TRUE(printer->events().empty());
            }
            continue;
        }
        for (const Device& d : model.printerList()) {
            EXPECT_EQ(d.name(), "RV-T4410LW");
            EXPECT_EQ(d.ipSetType, "D");
            EXPECT_EQ(d.ip, "");
            EXPECT_EQ(d.PID(), 0x0033);
            EXPECT_EQ(d.VID(), 0x356C);
        }
        if (c.listed == 2) {
            EXPECT_FALSE(model.printerList()[0].id() == model.printerList()[1].id());
            EXPECT_EQ(bench.printers[0]->events(), kReadEvents);
            EXPECT_TRUE(bench.printers[1]->events().empty()) << "only the first printer is read";
        }
        // The first printer is selected and read; no alert for a good read.
        EXPECT_FALSE(model.showAlert());
        const Device& selected = model.selectedPrinter();
        EXPECT_EQ(selected.id(), model.printerList()[0].id());
        EXPECT_EQ(selected.ipSetType, "S");
        EXPECT_EQ(selected.ip, "192.168.1.20");
        EXPECT_EQ(selected.subNetMast, "255.255.255.0");
        EXPECT_EQ(selected.gateway, "192.168.1.1");
        EXPECT_TRUE(hasLine(bench.log, "the return message is receive ip successfully"));
    }
}

TEST(PrinterModel, ReadFailureAfterTheModeQueryKeepsTheAddresses)
{
    ModelBench bench;
    auto printer = bench.plug(kSupported);
    PrinterModel& model = bench.makeModel();
    ASSERT_EQ(model.selectedPrinter().ipSetType, "S");
    const Device before = model.selectedPrinter();
    printer->script("CheckDHCPToggle?", Action::reply, bytesOf("DHCPToggle=On;"));
    printer->script("CheckIP?", Action::noReply);
    bench.watch();

    {
        const usb::test::LoggedLines quiet;
        model.getPrinterIP();
    }

    EXPECT_TRUE(model.showAlert());
    EXPECT_EQ(model.alertTitle(), QString());
    EXPECT_EQ(model.alertMessage(), QString("获取失败，请重试"));
    const Device& after = model.selectedPrinter();
    EXPECT_EQ(after.ipSetType, "D");
    EXPECT_EQ(after.ip, before.ip);
    EXPECT_EQ(after.subNetMast, before.subNetMast);
    EXPECT_EQ(after.gateway, before.gateway);
    EXPECT_EQ(after.id(), before.id());
    // The alert is raised before the fields are copied back.
    EXPECT_EQ(bench.signals_,
              (std::vector<std::string>{"showAlert", "alertMessage", "selectedPrinter"}));
}

TEST(PrinterModel, WriteOutcomes)
{
    struct Case {
        const char* label;
        std::string ipSetType;
        std::optional<std::string> toggleReply;
        QString message;
        bool dhcpAfter;
    };
    const std::vector<Case> cases{
        {"static_accepted", "S", std::nullopt, "设置成功", false},
        {"dhcp_accepted", "D", std::nullopt, "设置成功", true},
        {"refused", "D", "SetDHCPToggleNG;", "设置失败，请重试", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ModelBench bench;
        auto printer = bench.plug(kSupported);
        PrinterModel& model = bench.makeModel();
        if (c.toggleReply) {
            printer->script("SetDHCPToggle=", Action::reply, bytesOf(*c.toggleReply));
        }
        Device target = model.printerList()[0];
        target.ip = "10.1.2.3";
        target.subNetMast = "255.255.0.0";
        target.gateway = "10.1.0.1";
        target.ipSetType = c.ipSetType;
        model.setSelectedPrinter(target);

        std::vector<std::string> log;
        {
            const usb::test::LoggedLines logged;
            model.setPrinterIP();
            log = logged.lines();
        }

        EXPECT_TRUE(model.showAlert());
        EXPECT_EQ(model.alertTitle(), QString());
        EXPECT_EQ(model.alertMessage(), c.message);
        EXPECT_EQ(model.selectedPrinter(), target) << "a write leaves selectedPrinter as it was";
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], "init usbscanprocess pid=51 and vid = 13676");
        EXPECT_EQ(log[1], "start to setPrinterIP");
        EXPECT_EQ(printer->settings().dhcp, c.dhcpAfter);
        if (c.ipSetType == "S") {
            EXPECT_EQ(printer->settings().ip, (std::array<std::uint8_t, 4>{10, 1, 2, 3}));
        }
    }
}

TEST(PrinterModel, TwoPrintersOfOneModelEachRecordReachesItsOwnPrinter)
{
    const NetworkSettings first{false, {10, 0, 0, 5}, {255, 255, 0, 0}, {10, 0, 0, 1}};
    const NetworkSettings second{true, {172, 16, 3, 9}, {255, 255, 255, 0}, {172, 16, 3, 254}};
    struct Case {
        const char* label;
        bool write;
        bool unplugSecond;     // the chosen printer is gone when the record is used
        QString alertMessage;  // empty: a read that raises no alert
    };
    const std::vector<Case> cases{
        {"read_second", false, false, ""},
        {"static_write_to_second", true, false, "设置成功"},
        {"read_after_unplug", false, true, "获取失败，请重试"},
        {"write_after_unplug", true, true, "设置失败，请重试"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ModelBench bench;
        bench.plug(kSupported, first);
        auto chosen = std::make_shared<RecordingPrinter>(second);
        const SimulatedBus::DeviceId chosenId = bench.bus.plug(chosen);
        PrinterModel& model = bench.makeModel();
        ASSERT_EQ(model.printerList().size(), 2);
        auto other = bench.printers[0];
        ASSERT_EQ(other->events(), kReadEvents) << "the first printer is read at start";
        // Each record knows where its printer is.
        EXPECT_EQ(model.printerList()[0].locationID(), SimulatedBus::locationOf(chosenId - 1));
        EXPECT_EQ(model.printerList()[1].locationID(), SimulatedBus::locationOf(chosenId));
        const std::vector<std::string> otherEvents = other->events();

        Device target = model.printerList()[1];
        if (c.write) {
            target.ip = "192.168.9.40";
            target.subNetMast = "255.255.252.0";
            target.gateway = "192.168.8.1";
            target.ipSetType = "S";
        }
        model.setSelectedPrinter(target);
        if (c.unplugSecond) {
            bench.bus.unplug(chosenId);
        }
        model.setShowAlert(false);
        std::vector<std::string> log;
        {
            const usb::test::LoggedLines logged;
            c.write ? model.setPrinterIP() : model.getPrinterIP();
            log = logged.lines();
        }

        EXPECT_EQ(other->events(), otherEvents) << "nothing is sent to the other printer";
        EXPECT_EQ(other->settings().ip, first.ip);
        EXPECT_EQ(other->settings().dhcp, first.dhcp);
        EXPECT_EQ(other->restarts(), 0);
        EXPECT_EQ(model.showAlert(), !c.alertMessage.isEmpty());
        EXPECT_EQ(model.alertMessage(), c.alertMessage);
        EXPECT_EQ(model.selectedPrinter().id(), target.id());
        if (c.unplugSecond) {
            ASSERT_NE(model.usb(), nullptr);
            EXPECT_FALSE(model.usb()->deviceInterface.has_value());
            EXPECT_TRUE(hasLine(
                log,
                "init usb interface error. and error is USB: Plugin has no device interface."));
            EXPECT_TRUE(chosen->events().empty());
            EXPECT_EQ(model.selectedPrinter().ip, target.ip) << "nothing read from another printer";
            EXPECT_EQ(model.selectedPrinter().ipSetType, target.ipSetType);
        } else if (c.write) {
            EXPECT_EQ(chosen->restarts(), 1);
            EXPECT_FALSE(chosen->settings().dhcp);
            EXPECT_EQ(chosen->settings().ip, (std::array<std::uint8_t, 4>{192, 168, 9, 40}));
            EXPECT_EQ(chosen->settings().gateway, (std::array<std::uint8_t, 4>{192, 168, 8, 1}));
        } else {
            EXPECT_EQ(chosen->events(), kReadEvents);
            const Device& read = model.selectedPrinter();
            EXPECT_EQ(read.ipSetType, "D");
            EXPECT_EQ(read.ip, "172.16.3.9");
            EXPECT_EQ(read.subNetMast, "255.255.255.0");
            EXPECT_EQ(read.gateway, "172.16.3.254");
        }
    }
}

TEST(PrinterModel, NoPrinterAlertRaisesShowFirstThenTitleThenMessage)
{
    ModelBench bench;
    PrinterModel& model = bench.makeModel();
    model.setShowAlert(false);
    model.setAlertTitle(QString());
    model.setAlertMessage(QString());
    bench.watch();
    {
        const usb::test::LoggedLines quiet;
        model.getPrinterList();
    }
    EXPECT_EQ(bench.signals_, (std::vector<std::string>{"showAlert", "alertTitle", "alertMessage",
                                                        "selectedPrinter"}));
}

TEST(PrinterModel, ReadOnAWorkerThreadAppliedOnTheModelsThread)
{
    ModelBench bench;
    auto printer = bench.plug(kSupported);
    PrinterModel& model = bench.makeModel();
    printer->script("CheckIP?", Action::reply, usb::sim::Bytes(17, 0));
    const Device selected = model.selectedPrinter();

    PrinterModel::Outcome outcome;
    std::thread worker([&] {
        const usb::test::LoggedLines quiet;
        outcome = PrinterModel::readSettings(bench.bus, selected);
    });
    worker.join();
    EXPECT_EQ(model.selectedPrinter(), selected) << "the worker half must not touch the model";

    {
        const usb::test::LoggedLines quiet;
        model.applyReadOutcome(std::move(outcome));
    }
    EXPECT_FALSE(model.showAlert());
    EXPECT_EQ(model.selectedPrinter().ip, "");
    EXPECT_EQ(model.selectedPrinter().ipSetType, "S");
    ASSERT_NE(model.usb(), nullptr);
    EXPECT_EQ(model.usb()->printer.ip, "");
}

namespace {
const QString kAccessHint = QStringLiteral(
    "没有访问该USB打印机的权限。请安装驱动程序包（其中的udev规则允许当前登录用户访问打印机），"
    "然后重新插拔USB线；或者以管理员身份运行本工具。");
}

TEST(PrinterModel, RefusalForLackOfRightsPutsAHintUnderTheAlert)
{
    struct Case {
        const char* label;
        bool write;
        usb::IOReturn openStatus;     // what opening the printer's interface returns
        const char* scriptedNoReply;  // a command the printer leaves unanswered
        QString message;
        QString hint;
    };
    const std::vector<Case> cases{
        {"read_refused", false, usb::kIOReturnNotPrivileged, nullptr, "获取失败，请重试",
         kAccessHint},
        {"write_refused", true, usb::kIOReturnNotPrivileged, nullptr, "设置失败，请重试",
         kAccessHint},
        {"read_interface_held_elsewhere", false, usb::kIOReturnExclusiveAccess, nullptr,
         "获取失败，请重试", ""},
        {"write_no_reply", true, usb::kIOReturnSuccess, "SetDHCPToggle=", "设置失败，请重试", ""},
        {"read_no_reply", false, usb::kIOReturnSuccess, "CheckIP?", "获取失败，请重试", ""},
        {"write_succeeds", true, usb::kIOReturnSuccess, nullptr, "设置成功", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ModelBench bench;
        auto printer = bench.plug(kSupported);
        PrinterModel& model = bench.makeModel();
        ASSERT_FALSE(model.showAlert());
        printer->faults.interfaceOpen = c.openStatus;
        if (c.scriptedNoReply != nullptr) {
            printer->script(c.scriptedNoReply, Action::noReply);
        }
        // A hint left from an earlier alert never shows under a new one.
        model.setAlertHint(QStringLiteral("earlier hint"));
        std::vector<std::string> order;
        QObject::connect(&model, &PrinterModel::alertMessageChanged,
                         [&] { order.push_back("alertMessage"); });
        QObject::connect(&model, &PrinterModel::alertHintChanged,
                         [&] { order.push_back("alertHint"); });

        std::vector<std::string> log;
        {
            const usb::test::LoggedLines logged;
            c.write ? model.setPrinterIP() : model.getPrinterIP();
            log = logged.lines();
        }

        EXPECT_TRUE(model.showAlert());
        EXPECT_EQ(model.alertTitle(), QString());
        EXPECT_EQ(model.alertMessage(), c.message) << "the alert's own text stays as it is";
        EXPECT_EQ(model.alertHint(), c.hint);
        EXPECT_EQ(order, (std::vector<std::string>{"alertMessage", "alertHint"}))
            << "the hint comes after the message";
        if (c.openStatus == usb::kIOReturnNotPrivileged) {
            EXPECT_TRUE(hasLine(log, "open usb interface error and error is Privilege violation"));
            EXPECT_EQ(printer->events(), kReadEvents) << "nothing sent after the start-up read";
        }
    }
}

TEST(PrinterModel, PrinterRefusedAtStartIsListedAndTheAlertSaysWhatToDo)
{
    ModelBench bench;
    auto printer = std::make_shared<RecordingPrinter>();
    printer->faults.interfaceOpen = usb::kIOReturnNotPrivileged;
    const SimulatedBus::DeviceId id = bench.bus.plug(printer);
    PrinterModel& model = bench.makeModel();
    // Listing needs no rights on the device; only talking to it does.
    ASSERT_EQ(model.printerList().size(), 1);
    EXPECT_TRUE(model.showAlert());
    EXPECT_EQ(model.alertMessage(), QString("获取失败，请重试"));
    EXPECT_EQ(model.alertHint(), kAccessHint);
    EXPECT_TRUE(printer->events().empty());

    // Searching again once the rights are there: the read works and the next
    // alert carries no hint.
    printer->faults.interfaceOpen = usb::kIOReturnSuccess;
    model.setShowAlert(false);
    {
        const usb::test::LoggedLines quiet;
        model.getPrinterList();
    }
    EXPECT_FALSE(model.showAlert());
    EXPECT_EQ(model.selectedPrinter().ip, "192.168.1.20");
    bench.bus.unplug(id);
    {
        const usb::test::LoggedLines quiet;
        model.getPrinterList();
    }
    EXPECT_EQ(model.alertMessage(), QString("未查找到适配的打印机"));
    EXPECT_EQ(model.alertHint(), QString());
}

// The compiled translations, embedded by the tervane_translations library.
static void initTranslationResources() { Q_INIT_RESOURCE(tervane_translations); }

TEST(PrinterModel, AlertTextsComeThroughTheTranslator)
{
    initTranslationResources();
    int argc = 1;
    char name[] = "model_sim_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTranslator english;
    ASSERT_TRUE(english.load(":/i18n/tervane_en.qm"));
    ASSERT_TRUE(QCoreApplication::installTranslator(&english));
    ModelBench bench;
    PrinterModel& model = bench.makeModel();
    QCoreApplication::removeTranslator(&english);
    EXPECT_EQ(model.alertTitle().toStdString(), "Error");
    EXPECT_EQ(model.alertMessage().toStdString(), "No matching printer found");
    // The stored read and write messages stay keys; their translations exist.
    EXPECT_EQ(english.translate("tervane::PrinterModel", "设置成功"), QString("Set successfully"));
    EXPECT_EQ(english.translate("tervane::PrinterModel", "获取失败，请重试"),
              QString("Reading failed, please retry"));
    EXPECT_EQ(english.translate("tervane::PrinterModel", "设置失败，请重试"),
              QString("Setting failed, please retry"));
    EXPECT_EQ(
        english.translate("tervane::PrinterModel", kAccessHint.toUtf8().constData()).toStdString(),
        "No permission to access this USB printer. Install the driver package (its udev rule gives "
        "the "
        "logged-in user access to the printer), then unplug and replug the USB cable, or run this "
        "tool "
        "as administrator.");
}
