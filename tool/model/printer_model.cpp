// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "printer_model.h"

#include "usb_bus_scan.h"
#include "usb_log.h"
#include "usb_platform.h"

#include <QCoreApplication>

namespace tervane {

namespace {

// Texts the model stores untranslated: the window (and the command line)
// look them up again when they show them.
const char* const kReadFailed = QT_TRANSLATE_NOOP("tervane::PrinterModel", "获取失败，请重试");
const char* const kWriteSucceeded = QT_TRANSLATE_NOOP("tervane::PrinterModel", "设置成功");
const char* const kWriteFailed = QT_TRANSLATE_NOOP("tervane::PrinterModel", "设置失败，请重试");
// Shown under the read or write failure when the system refused the printer's
// device node to this user.
const char* const kAccessDeniedHint = QT_TRANSLATE_NOOP(
    "tervane::PrinterModel",
    "没有访问该USB打印机的权限。请安装驱动程序包（其中的udev规则允许当前登录用户访问打印机），"
    "然后重新插拔USB线；或者以管理员身份运行本工具。");

// The hint for a failed read or write made through the connection.
QString failureHint(const USBCommunication* connection)
{
    if (connection != nullptr && connection->accessDenied()) {
        return QString::fromUtf8(kAccessDeniedHint);
    }
    return QString();
}

}  // namespace

PrinterModel::PrinterModel(usb::UsbPlatform& platform, Start start, QObject* parent)
    : QObject(parent), platform_(platform)
{
    if (start == Start::searchAndRead) {
        getPrinterList();
    }
}

PrinterModel::~PrinterModel() = default;

// ---- operations ----------------------------------------------------------

void PrinterModel::getPrinterList()
{
    const std::vector<Device> found = scanBus(platform_);
    applyScanAndRead(found, found.empty() ? Outcome{} : readSettings(platform_, found.front()));
}

void PrinterModel::getDeviceByIOUSB()
{
    std::vector<Device> found = scanBus(platform_);
    if (found.empty()) {
        return;
    }
    QList<Device> list = printerList_;
    list.append(QList<Device>(found.begin(), found.end()));
    setPrinterList(list);
}

void PrinterModel::getPrinterIP() { applyReadOutcome(readSettings(platform_, selectedPrinter_)); }

void PrinterModel::setPrinterIP() { applyWriteOutcome(writeSettings(platform_, selectedPrinter_)); }

// ---- USB halves ------------------------------------------------------------

std::vector<Device> PrinterModel::scanBus(usb::UsbPlatform& platform)
{
    std::vector<Device> found;
    for (const UsbDeviceIds& ids : listUsbDevices(platform)) {
        const long pid = ids.productId;
        const long vid = ids.vendorId;
        usb::usbLog(" find device pid = " + std::to_string(pid) +
                    " and vid = " + std::to_string(vid));
        if (vid != kORVIVendorID) {
            continue;
        }
        usb::usbLog("find orvi device pid  = " + std::to_string(pid) +
                    " and vid = " + std::to_string(vid));
        for (const BaseDevice& model : ORVIDevices) {
            if (model.PID != pid) {
                continue;
            }
            found.emplace_back(model.name, "", "", "", "D", model.PID, model.VID, ids.locationID);
            usb::usbLog(" find orvi device  pid = " + std::to_string(pid) +
                        " and vid = " + std::to_string(vid));
        }
    }
    return found;
}

PrinterModel::Outcome PrinterModel::readSettings(usb::UsbPlatform& platform, const Device& printer)
{
    Outcome outcome;
    outcome.usb = std::make_unique<USBCommunication>(platform, printer);
    outcome.result = outcome.usb->initInterfaceToGetIP();
    return outcome;
}

PrinterModel::Outcome PrinterModel::writeSettings(usb::UsbPlatform& platform, const Device& printer)
{
    Outcome outcome;
    outcome.usb = std::make_unique<USBCommunication>(platform, printer);
    usb::usbLog("start to setPrinterIP");
    outcome.result = outcome.usb->initInterfaceToSetIP();
    return outcome;
}

// ---- applying results ------------------------------------------------------

void PrinterModel::applyScan(const std::vector<Device>& found)
{
    setPrinterList(QList<Device>(found.begin(), found.end()));
}

void PrinterModel::applyScanAndRead(const std::vector<Device>& found, Outcome firstRead)
{
    applyScan(found);
    if (!found.empty()) {
        setSelectedPrinter(found.front());
        applyReadOutcome(std::move(firstRead));
    } else {
        raiseNoPrinterAlert();
        setSelectedPrinter(Device::placeholder());
    }
}

void PrinterModel::raiseNoPrinterAlert() { raiseAlert(tr("错误"), tr("未查找到适配的打印机")); }

void PrinterModel::applyReadOutcome(Outcome outcome)
{
    usb_ = std::move(outcome.usb);
    if (outcome.succeeded()) {
        usb::usbLog("the return message is " + outcome.result.message);
    } else {
        raiseAlert(QString(), QString::fromUtf8(kReadFailed), failureHint(usb_.get()));
    }
    if (!usb_) {
        return;
    }
    // Only the network fields come back; id, name and the USB ids stay.
    const Device& read = usb_->printer;
    Device updated = selectedPrinter_;
    updated.ip = read.ip;
    setSelectedPrinter(updated);
    updated.subNetMast = read.subNetMast;
    setSelectedPrinter(updated);
    updated.gateway = read.gateway;
    setSelectedPrinter(updated);
    updated.ipSetType = read.ipSetType;
    setSelectedPrinter(updated);
}

void PrinterModel::applyWriteOutcome(Outcome outcome)
{
    usb_ = std::move(outcome.usb);
    if (outcome.succeeded()) {
        raiseAlert(QString(), QString::fromUtf8(kWriteSucceeded));
    } else {
        raiseAlert(QString(), QString::fromUtf8(kWriteFailed), failureHint(usb_.get()));
    }
}

// ---- published fields --------------------------------------------------------

void PrinterModel::raiseAlert(const QString& title, const QString& message, const QString& hint)
{
    setShowAlert(true);
    setAlertTitle(title);
    setAlertMessage(message);
    setAlertHint(hint);
}

void PrinterModel::setPrinterList(const QList<Device>& list)
{
    if (list == printerList_) {
        return;
    }
    printerList_ = list;
    emit printerListChanged();
}

void PrinterModel::setShowAlert(bool show)
{
    if (show == showAlert_) {
        return;
    }
    showAlert_ = show;
    emit showAlertChanged();
}

void PrinterModel::setAlertMessage(const QString& message)
{
    if (message == alertMessage_) {
        return;
    }
    alertMessage_ = message;
    emit alertMessageChanged();
}

void PrinterModel::setAlertTitle(const QString& title)
{
    if (title == alertTitle_) {
        return;
    }
    alertTitle_ = title;
    emit alertTitleChanged();
}

void PrinterModel::setAlertHint(const QString& hint)
{
    if (hint == alertHint_) {
        return;
    }
    alertHint_ = hint;
    emit alertHintChanged();
}

void PrinterModel::setSelectedPrinter(const Device& printer)
{
    if (printer == selectedPrinter_) {
        return;
    }
    selectedPrinter_ = printer;
    emit selectedPrinterChanged();
}

std::unique_ptr<usb::UsbPlatform> makeUsbPlatform(bool simulate)
{
#ifdef TERVANE_HAVE_LIBUSB
    constexpr usb::PlatformFactory realDevices = &usb::makeLibusbPlatform;
#else
    constexpr usb::PlatformFactory realDevices = nullptr;
#endif
    return usb::makePlatform(realDevices, simulate);
}

}  // namespace tervane
