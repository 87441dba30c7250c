// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "setting_view.h"

#include "device_list_observer.h"
#include "ip_settings_codec.h"
#include "settings_check.h"
#include "usb_handles.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace tervane::ui {

namespace {

constexpr int kControlWidth = 250;
constexpr int kFormMinimumWidth = 350;
constexpr int kFormHeight = 200;
constexpr int kPadding = 20;

constexpr int kModeDHCP = 0;
constexpr int kModeManual = 1;

int selectionForMode(const std::string& ipSetType)
{
    return ipSetType == kIPSetTypeStatic ? kModeManual : kModeDHCP;
}

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString leftToRight(const QString& text) { return QStringLiteral("\u200E%1\u202C").arg(text); }

SettingView::SettingView(PrinterModel& model, QWidget* parent)
    : QWidget(parent), model_(model), queue_(this)
{
    buildForm();
    connect(&worker_, &QFutureWatcher<Apply>::finished, this, [this] {
        const Apply apply = worker_.result();
        apply();
        setBusy(false);
        emit operationFinished();
        if (searchPending_) {
            searchPending_ = false;
            findPrinters();
        }
    });
    connectModel();
    fillPrinterPicker();
    copyFieldsFromSelectedPrinter();
    watchBus();
    if (model_.showAlert()) {
        // An alert raised while the model was made (no printer found).
        QMetaObject::invokeMethod(this, &SettingView::presentAlert, Qt::QueuedConnection);
    }
}

SettingView::~SettingView()
{
    // The observer goes at once: its deliveries run on this thread's event
    // loop, so none is under way now, and those still queued find it gone.
    observer_.reset();
    queue_.close();
    // A find, read or write under way ends within its transfers' time-outs;
    // it must not outlive the model and the bus it uses.
    worker_.waitForFinished();
}

// ---- building ----------------------------------------------------------------

void SettingView::buildForm()
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kPadding, kPadding, kPadding, kPadding);

    auto* frame = new QWidget(this);
    frame->setMinimumWidth(kFormMinimumWidth);
    frame->setFixedHeight(kFormHeight);
    frame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    outer->addWidget(frame);

    auto* stack = new QVBoxLayout(frame);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setAlignment(Qt::AlignCenter);

    // Five rows whose labels line up on their trailing edges.
    auto* rows = new QFormLayout;
    rows->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rows->setFormAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    rows->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    rows->setRowWrapPolicy(QFormLayout::DontWrapRows);

    printerPicker_ = new QComboBox(frame);
    printerPicker_->setObjectName("printerPicker");
    printerPicker_->setAccessibleName(tr("打印机"));
    printerPicker_->setFixedWidth(kControlWidth);
    rows->addRow(tr("打印机"), printerPicker_);

    modePicker_ = new QComboBox(frame);
    modePicker_->setObjectName("modePicker");
    modePicker_->setAccessibleName(leftToRight(tr("IP获取方式")));
    modePicker_->setFixedWidth(kControlWidth);
    modePicker_->addItem(tr("DHCP"), kModeDHCP);
    modePicker_->addItem(tr("手动设置"), kModeManual);
    rows->addRow(leftToRight(tr("IP获取方式")), modePicker_);

    auto makeField = [frame](const char* name, const QString& placeholder) {
        auto* field = new QLineEdit(frame);
        field->setObjectName(name);
        field->setPlaceholderText(placeholder);
        field->setFixedWidth(kControlWidth);
        return field;
    };
    ipField_ = makeField("ipField", leftToRight(tr("请输入IP地址")));
    maskField_ = makeField("subNetMastField", leftToRight(tr("请输入子网掩码")));
    gatewayField_ = makeField("gatewayField", leftToRight(tr("请输入网关")));
    rows->addRow(tr("IP"), ipField_);
    rows->addRow(tr("子网掩码"), maskField_);
    rows->addRow(tr("网关"), gatewayField_);
    stack->addLayout(rows);

    auto* buttons = new QHBoxLayout;
    auto makeButton = [frame, buttons](const char* name, const QString& text) {
        auto* button = new QPushButton(text, frame);
        button->setObjectName(name);
        button->setAutoDefault(false);
        buttons->addWidget(button);
        return button;
    };
    findButton_ = makeButton("findButton", tr("查找打印机"));
    readButton_ = makeButton("readButton", leftToRight(tr("获取当前IP")));
    writeButton_ = makeButton("writeButton", tr("确定"));
    cancelButton_ = makeButton("cancelButton", tr("取消"));
    stack->addLayout(buttons);

    // A thin bar under the buttons; it keeps its place while hidden so the
    // form does not move when it appears.
    busyIndicator_ = new QProgressBar(frame);
    busyIndicator_->setObjectName("busyIndicator");
    busyIndicator_->setRange(0, 0);
    busyIndicator_->setTextVisible(false);
    busyIndicator_->setFixedHeight(4);
    QSizePolicy keepPlace = busyIndicator_->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    busyIndicator_->setSizePolicy(keepPlace);
    busyIndicator_->hide();
    stack->addWidget(busyIndicator_);

    connect(findButton_, &QPushButton::clicked, this, &SettingView::findPrinters);
    connect(readButton_, &QPushButton::clicked, this, &SettingView::readCurrentSettings);
    connect(writeButton_, &QPushButton::clicked, this, &SettingView::writeSettings);
    connect(cancelButton_, &QPushButton::clicked, this, &SettingView::cancel);

    connect(printerPicker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            scannerIndex_ = printerPicker_->itemData(index).toInt();
        }
    });
    connect(modePicker_, &QComboBox::currentIndexChanged, this, [this] { updateFieldsEnabled(); });
}

void SettingView::connectModel()
{
    connect(&model_, &PrinterModel::printerListChanged, this, [this] {
        clampScannerIndex();
        fillPrinterPicker();
    });
    // The model raises an alert as showAlert, then title, then message:
    // the box is put up once all three are in place.
    connect(&model_, &PrinterModel::showAlertChanged, this, [this] {
        if (model_.showAlert()) {
            QMetaObject::invokeMethod(this, &SettingView::presentAlert, Qt::QueuedConnection);
        } else if (alert_) {
            alert_->close();
        }
    });
    connect(&model_, &PrinterModel::alertTitleChanged, this, &SettingView::refreshAlert);
    connect(&model_, &PrinterModel::alertMessageChanged, this, &SettingView::refreshAlert);
    connect(&model_, &PrinterModel::alertHintChanged, this, &SettingView::refreshAlert);
}

void SettingView::watchBus()
{
    usb::USBDeviceListObserver::Handler handler = [this](const std::string& notification,
                                                         const usb::DeviceDescription&) {
        if (observerPrimed_ || notification == usb::kIOTerminatedNotification) {
            onBusChanged();
        } else {
            // The printers attached when observation started.
            ++initialMatches_;
        }
    };
    // One observer per supported model (vendor and product id).
    const BaseDevice& model = ORVIDevices.front();
    static_assert(ORVIDevices.size() == 1, "observe every supported model");
    observer_ = usb::USBDeviceHandle::observeDeviceList(model_.platform(), model.VID, model.PID,
                                                        queue_, handler);
    // The observer reports the printers attached now before anything else;
    // this marker, queued behind those reports, ends them. Only a printer
    // that came between the model's search and the start of observation
    // makes the counts differ.
    queue_.post([this] {
        observerPrimed_ = true;
        if (initialMatches_ != model_.printerList().size()) {
            onBusChanged();
        }
    });
}

// ---- state cells ---------------------------------------------------------------

QString SettingView::ip() const { return ipField_->text(); }

QString SettingView::subNetMast() const { return maskField_->text(); }

QString SettingView::gateway() const { return gatewayField_->text(); }

int SettingView::ipSetTypeSelection() const { return modePicker_->currentData().toInt(); }

void SettingView::clampScannerIndex()
{
    if (scannerIndex_ >= model_.printerList().size() || scannerIndex_ < 0) {
        scannerIndex_ = 0;
    }
}

void SettingView::fillPrinterPicker()
{
    const QSignalBlocker blocker(printerPicker_);
    printerPicker_->clear();
    const QList<Device>& list = model_.printerList();
    for (int i = 0; i < list.size(); ++i) {
        printerPicker_->addItem(fromStd(list[i].name()), i);
    }
    printerPicker_->setCurrentIndex(printerPicker_->findData(scannerIndex_));
}

void SettingView::copyFieldsFromSelectedPrinter()
{
    const Device& printer = model_.selectedPrinter();
    ipField_->setText(fromStd(printer.ip));
    maskField_->setText(fromStd(printer.subNetMast));
    gatewayField_->setText(fromStd(printer.gateway));
    modePicker_->setCurrentIndex(modePicker_->findData(selectionForMode(printer.ipSetType)));
    updateFieldsEnabled();
}

void SettingView::updateFieldsEnabled()
{
    const bool manual = ipSetTypeSelection() == kModeManual;
    ipField_->setEnabled(manual);
    maskField_->setEnabled(manual);
    gatewayField_->setEnabled(manual);
}

// ---- the buttons ---------------------------------------------------------------

void SettingView::findPrinters()
{
    if (busy_) {
        searchPending_ = true;
        return;
    }
    usb::UsbPlatform& platform = model_.platform();
    runInBackground([this, &platform]() -> Apply {
        // The model's search, with the bus work done here and the
        // published fields assigned on the form's thread.
        auto found = std::make_shared<std::vector<Device>>(PrinterModel::scanBus(platform));
        auto read = std::make_shared<PrinterModel::Outcome>();
        if (!found->empty()) {
            *read = PrinterModel::readSettings(platform, found->front());
        }
        return [this, found, read] {
            model_.applyScanAndRead(*found, std::move(*read));
            copyFieldsFromSelectedPrinter();
        };
    });
}

void SettingView::readCurrentSettings()
{
    if (busy_) {
        return;
    }
    if (model_.printerList().isEmpty()) {
        model_.raiseNoPrinterAlert();
        return;
    }
    clampScannerIndex();
    const Device printer = model_.printerList().at(scannerIndex_);
    model_.setSelectedPrinter(printer);
    usb::UsbPlatform& platform = model_.platform();
    runInBackground([this, &platform, printer]() -> Apply {
        auto read = std::make_shared<PrinterModel::Outcome>(
            PrinterModel::readSettings(platform, printer));
        return [this, read] {
            model_.applyReadOutcome(std::move(*read));
            copyFieldsFromSelectedPrinter();
        };
    });
}

void SettingView::writeSettings()
{
    if (busy_) {
        return;
    }
    const SettingsProblem problem = model_.printerList().isEmpty()
                                        ? incompleteSettings()
                                        : checkSettings(ip().toStdString(),
                                                        subNetMast().toStdString(),
                                                        gateway().toStdString());
    if (problem.message != nullptr) {
        const QString message = settingsProblemText(problem);
        model_.raiseAlert(settingsProblemTitle(), problem.format ? leftToRight(message) : message);
        return;
    }
    clampScannerIndex();
    Device printer = model_.printerList().at(scannerIndex_);
    printer.ip = ip().toStdString();
    printer.subNetMast = subNetMast().toStdString();
    printer.gateway = gateway().toStdString();
    printer.ipSetType = std::string(ipSetTypeSelection() == kModeManual ? kIPSetTypeStatic
                                                                        : kIPSetTypeDHCP);
    model_.setSelectedPrinter(printer);
    usb::UsbPlatform& platform = model_.platform();
    runInBackground([this, &platform, printer]() -> Apply {
        auto written = std::make_shared<PrinterModel::Outcome>(
            PrinterModel::writeSettings(platform, printer));
        return [this, written] { model_.applyWriteOutcome(std::move(*written)); };
    });
}

void SettingView::cancel()
{
    QWidget* active = QApplication::activeWindow();
    (active != nullptr ? active : window())->close();
}

// ---- background work -------------------------------------------------------------

void SettingView::runInBackground(std::function<Apply()> work)
{
    setBusy(true);
    worker_.setFuture(QtConcurrent::run(std::move(work)));
}

void SettingView::setBusy(bool busy)
{
    busy_ = busy;
    findButton_->setEnabled(!busy);
    readButton_->setEnabled(!busy);
    writeButton_->setEnabled(!busy);
    busyIndicator_->setVisible(busy);
}

void SettingView::onBusChanged()
{
    if (searchScheduled_) {
        return;
    }
    // Several devices may come and go at once: one search for all of them.
    searchScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        searchScheduled_ = false;
        findPrinters();
    });
}

// ---- the alert -------------------------------------------------------------------

QString SettingView::alertText(const QString& text) const
{
    // The model keeps some texts as their Chinese keys; the form's own are
    // already translated and pass through unchanged.
    const QByteArray key = text.toUtf8();
    const QString own = tr(key.constData());
    if (own != text) {
        return own;
    }
    return PrinterModel::tr(key.constData());
}

void SettingView::presentAlert()
{
    if (!model_.showAlert() || alert_) {
        return;
    }
    auto* box = new QMessageBox(this);
    box->setObjectName("alert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->addButton(tr("确认"), QMessageBox::AcceptRole);
    // Closing the box in any way dismisses the alert.
    connect(box, &QMessageBox::finished, this, [this] {
        alert_ = nullptr;
        model_.setShowAlert(false);
    });
    alert_ = box;
    refreshAlert();
    box->open();
}

void SettingView::refreshAlert()
{
    if (!alert_) {
        return;
    }
    const QString title = alertText(model_.alertTitle());
    const QString message = alertText(model_.alertMessage());
    const QString hint = model_.alertHint().isEmpty() ? QString() : alertText(model_.alertHint());
    alert_->setWindowTitle(title);
    // Bold title over the message; a message without title stands alone.
    // What the user can do about it goes under the message.
    if (title.isEmpty()) {
        alert_->setTextFormat(Qt::PlainText);
        alert_->setText(message);
        alert_->setInformativeText(hint);
    } else {
        alert_->setTextFormat(Qt::RichText);
        alert_->setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
        alert_->setInformativeText(hint.isEmpty() ? message
                                                  : message + QStringLiteral("\n\n") + hint);
    }
}

}  // namespace tervane::ui
