// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The state behind the settings window: the supported printers found on the
// USB bus, the printer being worked on, and the one alert the window shows.
//
// Every published field is a Qt property with a change signal. The USB work
// of each operation is split in two halves so that a caller may run the
// first one on a worker thread and apply its result on the thread that owns
// the model:
//   scanBus()      -> applyScan()         (getPrinterList)
//   readSettings() -> applyReadOutcome()  (getPrinterIP)
//   writeSettings()-> applyWriteOutcome() (setPrinterIP)
// The first halves are static and touch nothing but their arguments and the
// USB platform; the second halves only assign published fields.
//
// The model is owned by whoever makes it (the window's main function, the
// command line, a test), over a platform that the same owner keeps alive.
#pragma once

#include "device.h"
#include "usb_communication.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace tervane::usb {
class UsbPlatform;
}

Q_DECLARE_METATYPE(tervane::Device)

namespace tervane {

class PrinterModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<tervane::Device> printerList READ printerList WRITE setPrinterList NOTIFY
                   printerListChanged)
    Q_PROPERTY(bool showAlert READ showAlert WRITE setShowAlert NOTIFY showAlertChanged)
    Q_PROPERTY(
        QString alertMessage READ alertMessage WRITE setAlertMessage NOTIFY alertMessageChanged)
    Q_PROPERTY(QString alertTitle READ alertTitle WRITE setAlertTitle NOTIFY alertTitleChanged)
    Q_PROPERTY(QString alertHint READ alertHint WRITE setAlertHint NOTIFY alertHintChanged)
    Q_PROPERTY(tervane::Device selectedPrinter READ selectedPrinter WRITE setSelectedPrinter NOTIFY
                   selectedPrinterChanged)

public:
    // Outcome of a read or a write: the connection used (after a read its
    // printer holds what was read) and the sequence result.
    struct Outcome {
        std::unique_ptr<USBCommunication> usb;
        SequenceResult result;
        bool succeeded() const { return result.status > 0; }
    };

    // What the model does when it is made.
    enum class Start {
        searchAndRead,  // getPrinterList(): the window opens filled in
        idle,           // nothing: the caller decides what to talk to
    };

    explicit PrinterModel(usb::UsbPlatform& platform, Start start = Start::searchAndRead,
                          QObject* parent = nullptr);
    ~PrinterModel() override;

    // Rebuilds printerList, selects the first printer and reads it, or
    // raises the no-printer alert.
    void getPrinterList();
    // Appends one Device per supported printer attached.
    void getDeviceByIOUSB();
    // Reads the settings of selectedPrinter into it.
    void getPrinterIP();
    // Writes the settings held in selectedPrinter and raises the outcome alert.
    void setPrinterIP();

    // ---- the halves that may run off the model's thread ----
    static std::vector<Device> scanBus(usb::UsbPlatform& platform);
    static Outcome readSettings(usb::UsbPlatform& platform, const Device& printer);
    static Outcome writeSettings(usb::UsbPlatform& platform, const Device& printer);

    // ---- the halves that assign the published fields ----
    void applyScan(const std::vector<Device>& found);
    // What getPrinterList() does with a search's result: the list, then the
    // first printer selected and its read (made by readSettings()) applied,
    // or the no-printer alert and the placeholder.
    void applyScanAndRead(const std::vector<Device>& found, Outcome firstRead);
    void applyReadOutcome(Outcome outcome);
    void applyWriteOutcome(Outcome outcome);

    // ---- published fields ----
    const QList<Device>& printerList() const { return printerList_; }
    bool showAlert() const { return showAlert_; }
    const QString& alertMessage() const { return alertMessage_; }
    const QString& alertTitle() const { return alertTitle_; }
    // What the user can do about the failure the alert reports, shown under
    // its message; empty for most alerts. Stored untranslated, like the read
    // and write messages.
    const QString& alertHint() const { return alertHint_; }
    const Device& selectedPrinter() const { return selectedPrinter_; }

    void setPrinterList(const QList<Device>& list);
    void setShowAlert(bool show);
    void setAlertMessage(const QString& message);
    void setAlertTitle(const QString& title);
    void setAlertHint(const QString& hint);
    void setSelectedPrinter(const Device& printer);
    // Shows an alert: showAlert, then title, then message, then the hint
    // (cleared when none is given).
    void raiseAlert(const QString& title, const QString& message, const QString& hint = QString());
    // The alert "错误" / "未查找到适配的打印机".
    void raiseNoPrinterAlert();

    // The connection of the last read or write (null before the first).
    const USBCommunication* usb() const { return usb_.get(); }
    usb::UsbPlatform& platform() const { return platform_; }

signals:
    void printerListChanged();
    void showAlertChanged();
    void alertMessageChanged();
    void alertTitleChanged();
    void alertHintChanged();
    void selectedPrinterChanged();

private:
    usb::UsbPlatform& platform_;
    QList<Device> printerList_;
    bool showAlert_ = false;
    QString alertMessage_;
    QString alertTitle_;
    QString alertHint_;
    Device selectedPrinter_ = Device::placeholder();
    std::unique_ptr<USBCommunication> usb_;
};

// The bus the tool talks to: the simulated one with its virtual printer when
// simulate is true or TERVANE_USB=sim is set, the real USB devices otherwise.
std::unique_ptr<usb::UsbPlatform> makeUsbPlatform(bool simulate);

}  // namespace tervane
