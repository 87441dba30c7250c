// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The settings window driven through its controls, on the simulated bus with
// virtual printers: initial fill, find, read, write, validation, alerts,
// hot-plug, cancel, layout direction and the English texts.

#include "app.h"
#include "content_view.h"
#include "setting_view.h"

#include "sim/simulated_bus.h"
#include "sim/virtual_printer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <memory>
#include <vector>

using namespace tervane;
using tervane::ui::ContentView;
using tervane::ui::orviscannerApp;
using tervane::ui::SettingView;
using usb::sim::NetworkSettings;
using usb::sim::SimulatedBus;
using usb::sim::VirtualPrinter;

Q_DECLARE_METATYPE(NetworkSettings)

namespace {

const NetworkSettings kStaticPrinter{false, {10, 0, 0, 5}, {255, 255, 0, 0}, {10, 0, 0, 1}};
const NetworkSettings kDhcpPrinter{true, {172, 16, 3, 9}, {255, 255, 255, 0}, {172, 16, 3, 254}};

const QString kNoPrinter = QStringLiteral("未查找到适配的打印机");
const QString kIncomplete = QStringLiteral("请选择打印机且将信息填写完整");
const QString kError = QStringLiteral("错误");

QString wrapped(const QString& text)
{
    return QStringLiteral("\u200E") + text + QStringLiteral("\u202C");
}

QString dotted(const std::array<std::uint8_t, 4>& parts)
{
    return QStringLiteral("%1.%2.%3.%4").arg(parts[0]).arg(parts[1]).arg(parts[2]).arg(parts[3]);
}

// A bus with virtual printers, the model over it and the form over the model.
struct Bench {
    explicit Bench(const std::vector<NetworkSettings>& attached)
    {
        bus.setTimeScale(0.05);
        for (const NetworkSettings& settings : attached) {
            plug(settings);
        }
        model = std::make_unique<PrinterModel>(bus);
        view = std::make_unique<SettingView>(*model);
        view->show();
    }
    ~Bench()
    {
        view.reset();
        model.reset();
    }

    std::shared_ptr<VirtualPrinter> plug(const NetworkSettings& settings)
    {
        auto printer = std::make_shared<VirtualPrinter>(settings);
        ids.push_back(bus.plug(printer));
        printers.push_back(printer);
        return printer;
    }

    template <class Widget>
    Widget* control(const char* name) const
    {
        return view->findChild<Widget*>(name);
    }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(name); }
    QComboBox* printerPicker() const { return control<QComboBox>("printerPicker"); }
    QComboBox* modePicker() const { return control<QComboBox>("modePicker"); }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }

    void click(const char* buttonName) const
    {
        QTest::mouseClick(button(buttonName), Qt::LeftButton);
    }
    void type(const char* fieldName, const QString& text) const
    {
        QLineEdit* edit = field(fieldName);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    SimulatedBus bus;
    std::vector<SimulatedBus::DeviceId> ids;
    std::vector<std::shared_ptr<VirtualPrinter>> printers;
    std::unique_ptr<PrinterModel> model;
    std::unique_ptr<SettingView> view;
};

// Waits for the alert, checks the title (bold), message and hint it shows,
// clicks "确认" and checks that the model's alert is down again.
void expectAlert(const Bench& bench, const QString& title, const QString& message,
                 const QString& hint = {})
{
    QTRY_VERIFY(bench.view->currentAlert() != nullptr && bench.view->currentAlert()->isVisible());
    QMessageBox* box = bench.view->currentAlert();
    QVERIFY(bench.model->showAlert());
    if (title.isEmpty()) {
        QCOMPARE(box->text(), message);
        QCOMPARE(box->informativeText(), hint);
    } else {
        QCOMPARE(box->text(), QStringLiteral("<b>%1</b>").arg(title));
        QCOMPARE(box->informativeText(), message);
    }
    QCOMPARE(box->buttons().size(), 1);
    QAbstractButton* confirm = box->buttons().first();
    // "确认", or its translation when one is installed.
    QCOMPARE(confirm->text(), QCoreApplication::translate("tervane::ui::SettingView", "确认"));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QTRY_VERIFY(bench.view->currentAlert() == nullptr);
    QVERIFY(!bench.model->showAlert());
}

void expectFields(const Bench& bench, const NetworkSettings& settings)
{
    QCOMPARE(bench.view->ip(), dotted(settings.ip));
    QCOMPARE(bench.view->subNetMast(), dotted(settings.mask));
    QCOMPARE(bench.view->gateway(), dotted(settings.gateway));
    QCOMPARE(bench.view->ipSetTypeSelection(), settings.dhcp ? 0 : 1);
    QCOMPARE(bench.modePicker()->currentText(),
             settings.dhcp ? QStringLiteral("DHCP") : QStringLiteral("手动设置"));
    QCOMPARE(bench.field("ipField")->isEnabled(), !settings.dhcp);
    QCOMPARE(bench.field("subNetMastField")->isEnabled(), !settings.dhcp);
    QCOMPARE(bench.field("gatewayField")->isEnabled(), !settings.dhcp);
}

#define WAIT_IDLE(bench) QTRY_VERIFY_WITH_TIMEOUT(!(bench).view->isBusy(), 10000)
#define CHECK(call)                                                                                \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

}  // namespace

class SettingViewTest : public QObject {
    Q_OBJECT

private slots:
    void initialFill_data();
    void initialFill();
    void findShowsTheSelectedPrinter();
    void readChosenPrinter();
    void writeInBothModes_data();
    void writeInBothModes();
    void validation_data();
    void validation();
    void emptyListAndHotPlug();
    void closingWithAHotPlugDeliveryQueued();
    void indexPastTheEndAfterSearch();
    void busyWhileReadingAndWindowResponsive();
    void readFailureAlert();
    void refusedPrinterHint_data();
    void refusedPrinterHint();
    void cancelClosesTheWindow();
    void layoutDirection_data();
    void layoutDirection();
    void englishTranslation();
    void formTexts();
};

void SettingViewTest::initialFill_data()
{
    QTest::addColumn<NetworkSettings>("settings");
    QTest::newRow("static") << kStaticPrinter;
    QTest::newRow("dhcp") << kDhcpPrinter;
}

void SettingViewTest::initialFill()
{
    QFETCH(NetworkSettings, settings);
    Bench bench({settings});
    QCOMPARE(bench.printerPicker()->count(), 1);
    QCOMPARE(bench.printerPicker()->currentText(), QStringLiteral("RV-T4410LW"));
    QCOMPARE(bench.view->scannerIndex(), 0);
    CHECK(expectFields(bench, settings));
    QVERIFY(bench.view->currentAlert() == nullptr);
    QVERIFY(!bench.view->isBusy());
}

void SettingViewTest::findShowsTheSelectedPrinter()
{
    Bench bench({kStaticPrinter, kDhcpPrinter});
    QCOMPARE(bench.printerPicker()->count(), 2);
    bench.printerPicker()->setCurrentIndex(1);
    QCOMPARE(bench.view->scannerIndex(), 1);
    bench.type("ipField", QStringLiteral("1.1.1.1"));

    bench.click("findButton");
    WAIT_IDLE(bench);
    // The search selects and reads the first printer, whatever the picker
    // points at; the picker keeps its index.
    CHECK(expectFields(bench, kStaticPrinter));
    QCOMPARE(bench.view->scannerIndex(), 1);
    QCOMPARE(bench.printerPicker()->currentIndex(), 1);
    QCOMPARE(bench.model->printerList().size(), 2);
    QVERIFY(bench.model->selectedPrinter().id() == bench.model->printerList().at(0).id());
}

void SettingViewTest::readChosenPrinter()
{
    Bench bench({kStaticPrinter, kDhcpPrinter});
    bench.printerPicker()->setCurrentIndex(1);
    bench.type("ipField", QStringLiteral("1.1.1.1"));
    bench.modePicker()->setCurrentIndex(1);
    bench.click("readButton");
    WAIT_IDLE(bench);
    // The chosen record is read into, from the chosen printer.
    QVERIFY(bench.model->selectedPrinter().id() == bench.model->printerList().at(1).id());
    CHECK(expectFields(bench, kDhcpPrinter));
    QCOMPARE(bench.model->selectedPrinter().ipSetType, std::string("D"));
    QVERIFY(bench.view->currentAlert() == nullptr);

    // A write goes to the chosen printer only.
    bench.modePicker()->setCurrentIndex(1);
    bench.type("ipField", QStringLiteral("172.16.3.77"));
    bench.click("writeButton");
    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, QString(), QStringLiteral("设置成功")));
    QCOMPARE(bench.printers[1]->restarts(), 1);
    NetworkSettings written = kDhcpPrinter;
    written.dhcp = false;
    written.ip = {172, 16, 3, 77};
    QVERIFY(bench.printers[1]->settings() == written);
    QCOMPARE(bench.printers[0]->restarts(), 0);
    QVERIFY(bench.printers[0]->settings() == kStaticPrinter);
}

void SettingViewTest::writeInBothModes_data()
{
    QTest::addColumn<NetworkSettings>("before");
    QTest::addColumn<int>("mode");
    QTest::newRow("manual") << kDhcpPrinter << 1;
    QTest::newRow("dhcp") << kStaticPrinter << 0;
}

void SettingViewTest::writeInBothModes()
{
    QFETCH(NetworkSettings, before);
    QFETCH(int, mode);
    Bench bench({before});
    // Typed while the fields are editable, then the mode is chosen: in DHCP
    // mode the disabled fields are still validated and written.
    bench.modePicker()->setCurrentIndex(1);
    bench.type("ipField", QStringLiteral("192.168.7.40"));
    bench.type("subNetMastField", QStringLiteral("255.255.252.0"));
    bench.type("gatewayField", QStringLiteral("192.168.4.1"));
    bench.modePicker()->setCurrentIndex(mode);
    QCOMPARE(bench.field("ipField")->isEnabled(), mode == 1);

    bench.click("writeButton");
    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, QString(), QStringLiteral("设置成功")));

    // A static write sends the addresses; DHCP only switches the mode.
    NetworkSettings written = before;
    written.dhcp = mode == 0;
    if (mode == 1) {
        written.ip = {192, 168, 7, 40};
        written.mask = {255, 255, 252, 0};
        written.gateway = {192, 168, 4, 1};
    }
    QCOMPARE(bench.printers[0]->restarts(), 1);
    QVERIFY(bench.printers[0]->settings() == written);
    QCOMPARE(bench.model->selectedPrinter().ipSetType, std::string(mode == 1 ? "S" : "D"));
    QCOMPARE(bench.model->selectedPrinter().ip, std::string("192.168.7.40"));
}

void SettingViewTest::validation_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("message");  // empty: accepted and written

    const QString ok = QStringLiteral("192.168.1.10");
    const QString mask = QStringLiteral("255.255.255.0");
    const QString badIp = wrapped(QStringLiteral("IP格式错误"));
    const QString badMask = wrapped(QStringLiteral("子网掩码格式错误"));
    const QString badGateway = wrapped(QStringLiteral("网关格式错误"));

    QTest::newRow("address part over 255") << "192.168.1.256" << mask << ok << badIp;
    QTest::newRow("leading zero") << "010.1.1.1" << mask << ok << QString();
    QTest::newRow("three parts") << "1.2.3" << mask << ok << badIp;
    QTest::newRow("trailing blank") << "1.2.3.4 " << mask << ok << badIp;
    QTest::newRow("leading blank") << " 1.2.3.4" << mask << ok << badIp;
    QTest::newRow("five parts") << "1.2.3.4.5" << mask << ok << badIp;
    QTest::newRow("any dotted quad as mask") << ok << "1.2.3.4" << ok << QString();
    QTest::newRow("bad mask") << ok << "255.255.255" << ok << badMask;
    QTest::newRow("bad gateway") << ok << mask << "192.168.1.x" << badGateway;
    QTest::newRow("first failure only") << "1.2.3"
                                        << "x"
                                        << "y" << badIp;
    QTest::newRow("mask before gateway") << ok << "300.0.0.0"
                                         << "y" << badMask;
    QTest::newRow("empty address") << "" << mask << ok << kIncomplete;
    QTest::newRow("empty mask") << ok << "" << ok << kIncomplete;
    QTest::newRow("empty gateway") << "1.2.3" << mask << "" << kIncomplete;
}

void SettingViewTest::validation()
{
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(QString, gateway);
    QFETCH(QString, message);
    Bench bench({kStaticPrinter});
    bench.type("ipField", ip);
    bench.type("subNetMastField", mask);
    bench.type("gatewayField", gateway);
    QCOMPARE(bench.view->ip(), ip);

    bench.click("writeButton");
    if (message.isEmpty()) {
        QVERIFY(bench.view->isBusy());
        WAIT_IDLE(bench);
        CHECK(expectAlert(bench, QString(), QStringLiteral("设置成功")));
        QCOMPARE(bench.printers[0]->restarts(), 1);
        QCOMPARE(bench.model->selectedPrinter().subNetMast, mask.toStdString());
    } else {
        // Refused before anything reaches the printer.
        QVERIFY(!bench.view->isBusy());
        CHECK(expectAlert(bench, kError, message));
        QCOMPARE(bench.printers[0]->restarts(), 0);
        QVERIFY(bench.printers[0]->stagedSettings() == kStaticPrinter);
    }
}

void SettingViewTest::emptyListAndHotPlug()
{
    Bench bench({});
    // The model's search at start found nothing: its alert is up first.
    CHECK(expectAlert(bench, kError, kNoPrinter));
    QCOMPARE(bench.printerPicker()->count(), 0);
    QCOMPARE(bench.view->ip(), QString());
    QCOMPARE(bench.view->ipSetTypeSelection(), 0);

    bench.click("readButton");
    CHECK(expectAlert(bench, kError, kNoPrinter));
    bench.modePicker()->setCurrentIndex(1);
    bench.type("ipField", QStringLiteral("1.2.3.4"));
    bench.type("subNetMastField", QStringLiteral("1.2.3.4"));
    bench.type("gatewayField", QStringLiteral("1.2.3.4"));
    bench.click("writeButton");
    CHECK(expectAlert(bench, kError, kIncomplete));

    // Plugging a printer in searches again by itself.
    bench.plug(kStaticPrinter);
    QTRY_COMPARE_WITH_TIMEOUT(bench.printerPicker()->count(), 1, 10000);
    WAIT_IDLE(bench);
    CHECK(expectFields(bench, kStaticPrinter));
    QVERIFY(bench.view->currentAlert() == nullptr);

    // And removing it too: the list empties and the no-printer alert shows.
    bench.bus.unplug(bench.ids.back());
    QTRY_COMPARE_WITH_TIMEOUT(bench.printerPicker()->count(), 0, 10000);
    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, kError, kNoPrinter));
    QCOMPARE(bench.view->ip(), QString());
}

void SettingViewTest::closingWithAHotPlugDeliveryQueued()
{
    SimulatedBus bus;
    bus.setTimeScale(0.05);
    PrinterModel model(bus);
    auto view = std::make_unique<SettingView>(model);
    // The observer's first walks (on this event loop) arm it; the printer's
    // arrival then waits in the event loop when the form goes.
    QCoreApplication::processEvents();
    bus.plug(std::make_shared<VirtualPrinter>(kStaticPrinter));
    QElapsedTimer closing;
    closing.start();
    view.reset();
    QVERIFY2(closing.elapsed() < 500, "the form waits for nothing but its own worker");
    QTest::qWait(100);
    QCOMPARE(model.printerList().size(), 0);
}

void SettingViewTest::indexPastTheEndAfterSearch()
{
    Bench bench({kStaticPrinter, kDhcpPrinter});
    bench.printerPicker()->setCurrentIndex(1);
    QCOMPARE(bench.view->scannerIndex(), 1);

    bench.bus.unplug(bench.ids[1]);
    QTRY_COMPARE_WITH_TIMEOUT(bench.model->printerList().size(), 1, 10000);
    WAIT_IDLE(bench);
    QCOMPARE(bench.view->scannerIndex(), 0);
    QCOMPARE(bench.printerPicker()->currentIndex(), 0);

    // Reading and writing now work on the one printer left.
    bench.click("readButton");
    WAIT_IDLE(bench);
    CHECK(expectFields(bench, kStaticPrinter));
    bench.type("gatewayField", QStringLiteral("10.0.0.2"));
    bench.click("writeButton");
    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, QString(), QStringLiteral("设置成功")));
    QCOMPARE(bench.printers[0]->settings().gateway[3], 2);
}

void SettingViewTest::busyWhileReadingAndWindowResponsive()
{
    Bench bench({kStaticPrinter});
    // A printer that never answers the address query: the read lasts until
    // its time-out.
    bench.bus.setTimeScale(0.5);
    bench.printers[0]->script("CheckIP?", VirtualPrinter::Action::noReply);

    bench.click("readButton");
    QVERIFY(bench.view->isBusy());
    for (const char* name : {"findButton", "readButton", "writeButton"}) {
        QVERIFY2(!bench.button(name)->isEnabled(), name);
    }
    QVERIFY(bench.view->findChild<QProgressBar*>("busyIndicator")->isVisible());

    // The event loop keeps running during the transfer.
    bool ticked = false;
    QTimer::singleShot(10, [&ticked] { ticked = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ticked, 1000);
    QVERIFY(bench.view->isBusy());
    // A search asked for meanwhile runs after the read.
    bench.view->findPrinters();

    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, QString(), QStringLiteral("获取失败，请重试")));
    QTRY_VERIFY_WITH_TIMEOUT(!bench.view->isBusy() && bench.view->ip() == dotted(kStaticPrinter.ip),
                             10000);
    for (const char* name : {"findButton", "readButton", "writeButton"}) {
        QVERIFY2(bench.button(name)->isEnabled(), name);
    }
    QVERIFY(!bench.view->findChild<QProgressBar*>("busyIndicator")->isVisible());
}

void SettingViewTest::readFailureAlert()
{
    Bench bench({kStaticPrinter});
    // The mode query answers, the address query does not: the new mode
    // comes back, the addresses stay those of the chosen list record
    // (never read, so empty).
    bench.printers[0]->script(
        "CheckDHCPToggle?", VirtualPrinter::Action::reply,
        usb::sim::Bytes{'D', 'H', 'C', 'P', 'T', 'o', 'g', 'g', 'l', 'e', '=', 'O', 'n', ';'});
    bench.printers[0]->script("CheckIP?", VirtualPrinter::Action::noReply);
    bench.click("readButton");
    WAIT_IDLE(bench);
    CHECK(expectAlert(bench, QString(), QStringLiteral("获取失败，请重试")));
    QCOMPARE(bench.view->ipSetTypeSelection(), 0);
    QCOMPARE(bench.view->ip(), QString());
    QCOMPARE(bench.model->selectedPrinter().ipSetType, std::string("D"));
}

void SettingViewTest::refusedPrinterHint_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("english");
    QTest::addColumn<int>("openStatus");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("hint");
    const QString hint = QStringLiteral(
        "没有访问该USB打印机的权限。请安装驱动程序包（其中的udev规则允许当前登录用户访问打印机），"
        "然后重新插拔USB线；或者以管理员身份运行本工具。");
    const QString englishHint = QStringLiteral("No permission to access this USB printer. Install "
                                               "the driver package (its udev rule gives the "
                                               "logged-in user access to the printer), then unplug "
                                               "and replug the USB cable, or run this tool as "
                                               "administrator.");
    QTest::newRow("read refused") << false << false << usb::kIOReturnNotPrivileged
                                  << QStringLiteral("获取失败，请重试") << hint;
    QTest::newRow("write refused") << true << false << usb::kIOReturnNotPrivileged
                                   << QStringLiteral("设置失败，请重试") << hint;
    QTest::newRow("write refused, English")
        << true << true << usb::kIOReturnNotPrivileged
        << QStringLiteral("Setting failed, please retry") << englishHint;
    QTest::newRow("read, interface held elsewhere")
        << false << false << usb::kIOReturnExclusiveAccess << QStringLiteral("获取失败，请重试")
        << QString();
}

void SettingViewTest::refusedPrinterHint()
{
    QFETCH(bool, write);
    QFETCH(bool, english);
    QFETCH(int, openStatus);
    QFETCH(QString, message);
    QFETCH(QString, hint);
    QTranslator translator;
    if (english) {
        QVERIFY(orviscannerApp::loadTranslation(translator,
                                                QLocale(QLocale::English, QLocale::UnitedStates)));
        QCoreApplication::installTranslator(&translator);
    }
    {
        Bench bench({kStaticPrinter});
        QVERIFY(bench.view->currentAlert() == nullptr);
        bench.printers[0]->faults.interfaceOpen = openStatus;
        bench.click(write ? "writeButton" : "readButton");
        WAIT_IDLE(bench);
        CHECK(expectAlert(bench, QString(), message, hint));
        // The next alert, one without a hint, shows none.
        bench.model->raiseAlert(QString(), QStringLiteral("设置成功"));
        CHECK(
            expectAlert(bench, QString(),
                        english ? QStringLiteral("Set successfully") : QStringLiteral("设置成功")));
    }
    QCoreApplication::removeTranslator(&translator);
}

void SettingViewTest::cancelClosesTheWindow()
{
    SimulatedBus bus;
    bus.plug(std::make_shared<VirtualPrinter>(kStaticPrinter));
    PrinterModel model(bus);
    orviscannerApp app(model, QLocale(QLocale::Chinese, QLocale::China));
    app.show();
    QVERIFY(QTest::qWaitForWindowActive(&app.window()));
    QVERIFY(app.window().isVisible());
    auto* cancel = app.window().findChild<QPushButton*>("cancelButton");
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!app.window().isVisible());
}

void SettingViewTest::layoutDirection_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<Qt::LayoutDirection>("direction");
    QTest::newRow("fa_IR") << QLocale(QLocale::Persian, QLocale::Iran) << Qt::RightToLeft;
    QTest::newRow("fa_AF") << QLocale(QLocale::Persian, QLocale::Afghanistan) << Qt::RightToLeft;
    QTest::newRow("ar_EG") << QLocale(QLocale::Arabic, QLocale::Egypt) << Qt::LeftToRight;
    QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << Qt::LeftToRight;
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << Qt::LeftToRight;
    QTest::newRow("no language") << QLocale::c() << Qt::LeftToRight;
}

void SettingViewTest::layoutDirection()
{
    QFETCH(QLocale, locale);
    QFETCH(Qt::LayoutDirection, direction);
    SimulatedBus bus;
    bus.setTimeScale(0.05);
    bus.plug(std::make_shared<VirtualPrinter>(kStaticPrinter));
    PrinterModel model(bus);
    {
        orviscannerApp app(model, locale);
        app.show();
        QCOMPARE(orviscannerApp::layoutDirection(locale), direction);
        QCOMPARE(app.window().layoutDirection(), direction);
        QCOMPARE(app.window().settingView().layoutDirection(), direction);
        // Title and wrapped texts keep their left-to-right marks.
        QCOMPARE(app.window().windowTitle(), wrapped(QStringLiteral("IP设置工具")));
        auto* read = app.window().findChild<QPushButton*>("readButton");
        QCOMPARE(read->text(), wrapped(QStringLiteral("获取当前IP")));
        // Labels stand after their controls in reading order.
        auto* ip = app.window().findChild<QLineEdit*>("ipField");
        auto* form = app.window().findChild<QFormLayout*>();
        QVERIFY(form != nullptr);
        QWidget* label = form->labelForField(ip);
        QVERIFY(label != nullptr);
        const int fieldX = ip->mapTo(&app.window(), QPoint(0, 0)).x();
        const int labelX = label->mapTo(&app.window(), QPoint(0, 0)).x();
        QCOMPARE(fieldX < labelX, direction == Qt::RightToLeft);
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
}

void SettingViewTest::englishTranslation()
{
    QTranslator english;
    QVERIFY(
        orviscannerApp::loadTranslation(english, QLocale(QLocale::English, QLocale::UnitedStates)));
    QTranslator persian;
    QVERIFY(!orviscannerApp::loadTranslation(persian, QLocale(QLocale::Persian, QLocale::Iran)));
    QCoreApplication::installTranslator(&english);
    {
        Bench bench({});
        // The model's own texts, and the form's, in English.
        CHECK(expectAlert(bench, QStringLiteral("Error"),
                          QStringLiteral("No matching printer found")));
        QCOMPARE(QCoreApplication::translate("tervane::ui::SettingView", "确认"),
                 QStringLiteral("OK"));
        QCOMPARE(bench.button("findButton")->text(), QStringLiteral("Find printer"));
        QCOMPARE(bench.button("readButton")->text(), wrapped(QStringLiteral("Get current IP")));
        QCOMPARE(bench.button("writeButton")->text(), QStringLiteral("OK"));
        QCOMPARE(bench.button("cancelButton")->text(), QStringLiteral("Cancel"));
        QCOMPARE(bench.modePicker()->itemText(1), QStringLiteral("Manual"));
        QCOMPARE(bench.field("ipField")->placeholderText(),
                 wrapped(QStringLiteral("Enter the IP address")));
        QCOMPARE(orviscannerApp::windowTitle(), wrapped(QStringLiteral("IP Settings Tool")));

        // A text the model stores as its Chinese key is translated when shown.
        auto printer = bench.plug(kStaticPrinter);
        QTRY_COMPARE_WITH_TIMEOUT(bench.printerPicker()->count(), 1, 10000);
        WAIT_IDLE(bench);
        printer->script("CheckIP?", VirtualPrinter::Action::noReply);
        bench.click("readButton");
        WAIT_IDLE(bench);
        CHECK(expectAlert(bench, QString(), QStringLiteral("Reading failed, please retry")));
        bench.modePicker()->setCurrentIndex(1);
        bench.type("ipField", QStringLiteral("1.2.3"));
        bench.type("subNetMastField", QStringLiteral("255.0.0.0"));
        bench.type("gatewayField", QStringLiteral("1.0.0.1"));
        bench.click("writeButton");
        CHECK(expectAlert(bench, QStringLiteral("Error"),
                          wrapped(QStringLiteral("Invalid IP address"))));
    }
    QCoreApplication::removeTranslator(&english);
}

void SettingViewTest::formTexts()
{
    // Without a translation the Chinese keys show, wrapped where they must
    // keep left-to-right order.
    Bench bench({kStaticPrinter});
    QCOMPARE(bench.button("findButton")->text(), QStringLiteral("查找打印机"));
    QCOMPARE(bench.button("readButton")->text(), wrapped(QStringLiteral("获取当前IP")));
    QCOMPARE(bench.button("writeButton")->text(), QStringLiteral("确定"));
    QCOMPARE(bench.modePicker()->itemText(0), QStringLiteral("DHCP"));
    QCOMPARE(bench.modePicker()->itemData(0).toInt(), 0);
    QCOMPARE(bench.modePicker()->itemText(1), QStringLiteral("手动设置"));
    QCOMPARE(bench.modePicker()->itemData(1).toInt(), 1);
    QCOMPARE(bench.modePicker()->accessibleName(), wrapped(QStringLiteral("IP获取方式")));
    QCOMPARE(bench.printerPicker()->accessibleName(), QStringLiteral("打印机"));
    QCOMPARE(bench.field("ipField")->placeholderText(), wrapped(QStringLiteral("请输入IP地址")));
    QCOMPARE(bench.field("subNetMastField")->placeholderText(),
             wrapped(QStringLiteral("请输入子网掩码")));
    QCOMPARE(bench.field("gatewayField")->placeholderText(), wrapped(QStringLiteral("请输入网关")));
    for (const char* name : {"printerPicker", "modePicker"}) {
        QCOMPARE(bench.control<QComboBox>(name)->width(), 250);
    }
    for (const char* name : {"ipField", "subNetMastField", "gatewayField"}) {
        QCOMPARE(bench.field(name)->width(), 250);
    }
    QVERIFY(bench.view->minimumSizeHint().width() >= 350 + 2 * 20);
}

QTEST_MAIN(SettingViewTest)
#include "setting_view_test.moc"
