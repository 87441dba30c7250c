// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The settings form: pick the attached printer, see and edit its network
// settings, and find, read and write through the printer model.
//
// The form only reads and writes the model's published fields and runs its
// operations. The USB halves of find, read and write run on a worker thread;
// their results are applied to the model back on the form's thread. While
// one runs the three operation buttons are disabled and a busy indicator
// shows. A hot-plug observer searches the bus again whenever a supported
// printer is plugged in or removed.
#pragma once

#include "event_loop_queue.h"
#include "printer_model.h"

#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tervane::usb {
class USBDeviceListObserver;
}

namespace tervane::ui {

// U+200E + text + U+202C: keeps a text in left-to-right order inside a
// right-to-left layout.
QString leftToRight(const QString& text);

class SettingView : public QWidget {
    Q_OBJECT

public:
    explicit SettingView(PrinterModel& model, QWidget* parent = nullptr);
    ~SettingView() override;

    // ---- the form's state ----
    int scannerIndex() const { return scannerIndex_; }
    QString ip() const;
    QString subNetMast() const;
    QString gateway() const;
    // 0 = DHCP, 1 = manual (static).
    int ipSetTypeSelection() const;

    // True while a find, read or write is under way.
    bool isBusy() const { return busy_; }
    // The alert on screen, or null.
    QMessageBox* currentAlert() const { return alert_; }

public slots:
    // The four buttons.
    void findPrinters();
    void readCurrentSettings();
    void writeSettings();
    void cancel();

signals:
    // Emitted when a find, read or write has been applied and the form is
    // idle again.
    void operationFinished();

private:
    using Apply = std::function<void()>;

    void buildForm();
    void connectModel();
    void watchBus();
    void fillPrinterPicker();
    void copyFieldsFromSelectedPrinter();
    void updateFieldsEnabled();
    void presentAlert();
    void refreshAlert();
    QString alertText(const QString& text) const;
    // Checks scannerIndex against the list and brings it back to 0 when the
    // list got shorter.
    void clampScannerIndex();

    // Runs work on a worker thread, then its returned Apply on this thread.
    void runInBackground(std::function<Apply()> work);
    void setBusy(bool busy);
    void onBusChanged();

    PrinterModel& model_;
    int scannerIndex_ = 0;

    QComboBox* printerPicker_ = nullptr;
    QComboBox* modePicker_ = nullptr;
    QLineEdit* ipField_ = nullptr;
    QLineEdit* maskField_ = nullptr;
    QLineEdit* gatewayField_ = nullptr;
    QPushButton* findButton_ = nullptr;
    QPushButton* readButton_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    QPointer<QMessageBox> alert_;

    bool busy_ = false;
    bool searchPending_ = false;
    QFutureWatcher<Apply> worker_;

    // Hot-plug: the observer's deliveries come through queue_. It first
    // reports the printers already attached (counted, not searched for);
    // every later arrival and every removal starts a search.
    EventLoopQueue queue_;
    std::shared_ptr<usb::USBDeviceListObserver> observer_;
    bool observerPrimed_ = false;
    qsizetype initialMatches_ = 0;
    bool searchScheduled_ = false;
};

}  // namespace tervane::ui
