#include "mainwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPixmap>
#include <QStandardPaths>

#include "addonpage.h"
#include "availablememory.h"
#include "capturepage.h"
#include "controlenabler.h"
#include "counterv2control.h"
#include "devicecombobox.h"
#include "devicedescription.h"
#include "deviceicon.h"
#include "featuresform.h"
#include "filterpage.h"
#include "firmwareoffer.h"
#include "phystatustables.h"
#include "portinterlock.h"
#include "qgauge.h"
#include "sqtablewidget.h"
#include "statisticsview.h"
#include "statsthread.h"
#include "timesource.h"
#include "timingchart.h"
#include "timingdisplay.h"
#include "ui_mainwindow.h"
#include "versioncheck.h"
#include "versionnumber.h"
#include "windowfit.h"

// One debug line per status answer shown, off unless enabled with
// QT_LOGGING_RULES="nettlebeam.manager.status.debug=true" (the start-up bench).
Q_LOGGING_CATEGORY(lcStatus, "nettlebeam.manager.status", QtInfoMsg)

namespace {

const QString kUpdateFailedText = QStringLiteral(
    "Firmware update failed.\nPlease check the specified file exists and is a Nettlebeam "
    "Firmware.");
constexpr int kStatusIntervalMs = 1000;
// Designer page indexes.
enum Page {
    Statistics,
    Charts,
    Log,
    CountersV2,
    NetworkPorts,
    Sfp,
    Filters,
    Timing,
    Features,
    Capture
};

bool has(NettlebeamApiCapabilities caps, uint32_t bit) {
    return (caps & bit) != 0;
}

QString macText(const uint8_t mac[6]) {
    return QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                             mac[4], mac[5]);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent, const QString& firmwareFolder)
    : QMainWindow(parent),
      firmware_(firmwareFolder.isEmpty() ? FirmwareStash() : FirmwareStash(firmwareFolder)) {
    ui = new Ui::MainWindow;
    ui->setupUi(this);
    makePagesScrollable(ui->tabWidget);
    ui->tabWidget->setCurrentIndex(Capture);

    placeholder_ = new NettlebeamDevice;
    devices_.insert(placeholder_->handle, placeholder_);

    setWindowTitle(QStringLiteral("Nettlebeam Manager - 2.5.34"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/NettlebeamIco.png")));

    settings_ = std::make_unique<ManagerSettings>();
    qDebug("Using configuration file : %s", qPrintable(settings_->fileName()));

    ui->Cloudshark->setSettings(settings_->store());
    ui->Cloudshark->setDeviceLookup(
        [this](NettlebeamApiDeviceHandle handle) { return devices_.value(handle, placeholder_); });
    firmware_.Refresh();

    worker_ = new StatsThread();

    statsTimer_ = new QTimer(this);
    statsTimer_->setInterval(kStatusIntervalMs);
    featuresApplyTimer_ = new QTimer(this);
    featuresApplyTimer_->setSingleShot(true);
    featuresApplyTimer_->setInterval(kStatusIntervalMs);
    connect(featuresApplyTimer_, &QTimer::timeout, this, &MainWindow::userChangedFeatures);

    ui->groupBox_14->hide();
    ui->FirmwareSelection->hide();
    ui->OSXWarning->hide();

    connectWorker();
    buildFilterPage();
    connect(statsTimer_, &QTimer::timeout, this, &MainWindow::updateStats);
    connect(ui->network_default_button, &QPushButton::clicked, this,
            &MainWindow::slot_load_network_default);
    connect(ui->FirmwareSelectionBT, &QPushButton::clicked, this, &MainWindow::slot_set_fw);
    ui->physRegsTable1->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    phyTables_ = std::make_unique<PhyStatusTables>(ui->physRegsTable1, ui->physRegsTable2,
                                                   ui->physRegsTable3);

    currentDevice_ = placeholder_;
    setUpGauges();
    setUpTables();
    setUpStatistics();
    counterControls()[0]->alignHeader(ui->countersV2HeaderNumber, ui->countersV2HeaderDefinition,
                                      ui->countersV2HeaderTotal, ui->countersV2HeaderRate);
    for (int n = 0; n < kProgrammableCounters; ++n) {
        counterControls()[n]->setNumber(n);
        connect(counterControls()[n], &CounterV2Control::CounterConfigChanged, this,
                &MainWindow::counterV2ConfigChanged);
    }
    buildSelector();
    setUpCaptureDefaults();
    buildAddonPage();
    recordPages();
    enableControls(false);
    rebuildPages(0);
    clearDeviceFigures();

    worker_->initialize();
    statsTimer_->start();
    fitToScreen(this);
}

MainWindow::~MainWindow() {
    // The monitor outlives the widgets; its reports have nowhere to go.
    disconnect(&glintfieldMonitor_, nullptr, this, nullptr);
    featuresApplyTimer_->stop();
    statsTimer_->stop();
    delete worker_;  // ends the worker's thread and releases the library
    delete featuresApplyTimer_;
    delete statsTimer_;
    settings_.reset();
    delete ui;
    qDeleteAll(devices_);
}

void MainWindow::connectWorker() {
    using Request = void (MainWindow::*)(const StatsThreadInfo&);
    using Handler = void (StatsThread::*)(const StatsThreadInfo&);
    const std::pair<Request, Handler> requests[] = {
        {&MainWindow::signal_get_features, &StatsThread::slot_get_features},
        {&MainWindow::signal_get_iface_status, &StatsThread::slot_get_iface_status},
        {&MainWindow::signal_set_features, &StatsThread::slot_set_features},
        {&MainWindow::signal_save_features, &StatsThread::slot_save_features},
        {&MainWindow::signal_restart_device, &StatsThread::slot_restart_device},
        {&MainWindow::signal_start_update, &StatsThread::slot_update_start},
        {&MainWindow::signal_dd_set_config, &StatsThread::slot_dd_set_config},
        {&MainWindow::signal_dd_start, &StatsThread::slot_dd_start},
        {&MainWindow::signal_dd_stop, &StatsThread::slot_dd_stop},
        {&MainWindow::signal_timing_resync, &StatsThread::slot_timing_resync},
        {&MainWindow::signal_set_v2counterconfig, &StatsThread::slot_set_v2counterconfig},
        {&MainWindow::signal_get_v2counterconfigs, &StatsThread::slot_get_v2counterconfigs},
        {&MainWindow::signal_get_simplefilter, &StatsThread::slot_get_simple_filter},
        {&MainWindow::signal_get_dpifilter, &StatsThread::slot_get_DPI_filter},
        {&MainWindow::signal_get_packetstypefilter, &StatsThread::slot_get_packets_type_filter},
        {&MainWindow::signal_set_simplefilter, &StatsThread::slot_set_simple_filter},
        {&MainWindow::signal_set_dpifilter, &StatsThread::slot_set_DPI_filter},
        {&MainWindow::signal_set_packetstypefilter, &StatsThread::slot_set_packets_type_filter},
        {&MainWindow::signal_save_simplefilter, &StatsThread::slot_save_simple_filter},
        {&MainWindow::signal_save_dpifilter, &StatsThread::slot_save_DPI_filter},
        {&MainWindow::signal_save_packetstypefilter, &StatsThread::slot_save_packets_type_filter},
    };
    for (const auto& [request, handler] : requests)
        connect(this, request, worker_, handler, Qt::QueuedConnection);

    using Answer = void (StatsThread::*)(const StatsThreadInfo&);
    using Receiver = void (MainWindow::*)(const StatsThreadInfo&);
    const std::pair<Answer, Receiver> answers[] = {
        {&StatsThread::signal_add_iface, &MainWindow::addIface},
        {&StatsThread::signal_del_iface, &MainWindow::delIface},
        {&StatsThread::signal_status, &MainWindow::statusUpdate},
        {&StatsThread::signal_features, &MainWindow::featuresUpdate},
        {&StatsThread::signal_v2counterconfig, &MainWindow::counterV2ConfigReceived},
        {&StatsThread::signal_update_progress, &MainWindow::updateProgress},
        {&StatsThread::signal_update_status, &MainWindow::updateFinished},
        {&StatsThread::signal_simple_filter, &MainWindow::slot_simpleFilterReceived},
        {&StatsThread::signal_DPI_filter, &MainWindow::slot_DPIFilterReceived},
        {&StatsThread::signal_packets_type_filter, &MainWindow::slot_PacketsTypeFilterReceived},
    };
    for (const auto& [answer, receiver] : answers)
        connect(worker_, answer, this, receiver, Qt::QueuedConnection);
    connect(worker_, &StatsThread::signal_sntp_failed, this, &MainWindow::slot_sntp_failed,
            Qt::QueuedConnection);
    connect(worker_, &StatsThread::signal_features_saved, this, &MainWindow::featuresSaved,
            Qt::QueuedConnection);
    connect(
        worker_, &StatsThread::signal_filter_refused, this,
        [this](NettlebeamApiDeviceHandle handle, FilterRequest request) {
            if (isCurrent(handle)) filters_->requestRefused(request);
        },
        Qt::QueuedConnection);
    connect(worker_, &StatsThread::signal_capture_start_refused, this,
            &MainWindow::captureStartRefused, Qt::QueuedConnection);
    // Linked on the thread that receives the announcement, before a looping
    // capture removes the file, however busy the window is.
    connect(worker_, &StatsThread::signal_new_capture_file, ui->Cloudshark,
            &CloudsharkControl::linkAnnouncedFile, Qt::DirectConnection);
    connect(worker_, &StatsThread::signal_capture_status_changed, ui->Cloudshark,
            &CloudsharkControl::captureStatusChanged, Qt::QueuedConnection);
}

QList<CounterV2Control*> MainWindow::counterControls() const {
    return {ui->widget_3,  ui->widget_4,  ui->widget_5,  ui->widget_6,
            ui->widget_7,  ui->widget_8,  ui->widget_9,  ui->widget_10,
            ui->widget_11, ui->widget_12, ui->widget_13, ui->widget_14,
            ui->widget_15, ui->widget_16, ui->widget_17, ui->widget_18};
}

// The gauges scale with the font like the tables beside them, from at least
// six lines of text wide and four high to nine high; they grow where the
// page has room. Their captions wrap between words, so that at a larger font
// three gauges per port still share the page's width without scrolling.
void MainWindow::setUpGauges() {
    const QPixmap needle(QStringLiteral(":/gauge/img/needle.png"));
    const QPixmap dial(QStringLiteral(":/gauge/img/gauge.png"));
    const int line = fontMetrics().height();
    for (QGauge* gauge :
         {ui->meters_a_bw_gauge, ui->meters_a_avbw_gauge, ui->meters_a_avcrc_gauge,
          ui->meters_b_bw_gauge, ui->meters_b_avbw_gauge, ui->meters_b_avcrc_gauge}) {
        gauge->setNeedleImage(needle);
        gauge->setDialImage(dial);
        gauge->setPivot(287.0, 299.0);
        gauge->setA0(0.0);
        gauge->setA1(93.0);
        gauge->setMinimumSize(line * 6, line * 4);
        gauge->setMaximumHeight(line * 9);
    }
    for (QLabel* caption :
         {ui->meters_a_bw_caption, ui->meters_a_avbw_caption, ui->meters_a_avcrc_caption,
          ui->meters_b_bw_caption, ui->meters_b_avbw_caption, ui->meters_b_avcrc_caption}) {
        caption->setWordWrap(true);
    }
}

// Row labels as wide as the longest of them ("Invalid packets"), columns
// never narrower than their titles, and tables as high
// as their rows, in the font they are drawn with: the valid and invalid
// tables of both ports share one label width so their columns line up.
void MainWindow::setUpTables() {
    ui->tableWidget->setPort(0);
    ui->tableWidget_2->setPort(1);
    ui->tableWidget->setPairedTable(ui->tableWidget_3);
    ui->tableWidget_2->setPairedTable(ui->tableWidget_4);
    const QList<QTableWidget*> tables{ui->tableWidget, ui->tableWidget_2, ui->tableWidget_3,
                                      ui->tableWidget_4};
    int labels = 0;
    for (QTableWidget* table : tables)
        labels = std::max(labels, table->verticalHeader()->sizeHint().width());
    for (QTableWidget* table : tables) {
        table->verticalHeader()->setFixedWidth(labels);
        QHeaderView* columns = table->horizontalHeader();
        // The figures share the width; the percentages (at most "100.00")
        // take what their title needs.
        columns->setStretchLastSection(false);
        columns->setSectionResizeMode(QHeaderView::Stretch);
        columns->setSectionResizeMode(table->columnCount() - 1, QHeaderView::ResizeToContents);
        int titles = 0;
        for (int column = 0; column < table->columnCount(); ++column)
            titles += columns->sectionSizeHint(column);
        table->setMinimumWidth(labels + titles + 2 * table->frameWidth());
        table->setFixedHeight(table->horizontalHeader()->sizeHint().height() +
                              table->verticalHeader()->length() + 2 * table->frameWidth());
    }
}

// The tables must know their port and pair first.
void MainWindow::setUpStatistics() {
    StatisticsWidgets widgets;
    widgets.validTables = {ui->tableWidget, ui->tableWidget_2};
    widgets.gauges = {{{ui->meters_a_bw_gauge, ui->meters_a_avbw_gauge, ui->meters_a_avcrc_gauge},
                       {ui->meters_b_bw_gauge, ui->meters_b_avbw_gauge, ui->meters_b_avcrc_gauge}}};
    widgets.plots = {ui->graphs_a, ui->graphs_b};
    widgets.seriesChecks = {{{ui->graphs_1_a_check, ui->graphs_2_a_check, ui->graphs_3_a_check,
                              ui->graphs_4_a_check, ui->graphs_5_a_check, ui->graphs_6_a_check,
                              ui->graphs_7_a_check, ui->graphs_8_a_check, ui->graphs_9_a_check},
                             {ui->graphs_1_b_check, ui->graphs_2_b_check, ui->graphs_3_b_check,
                              ui->graphs_4_b_check, ui->graphs_5_b_check, ui->graphs_6_b_check,
                              ui->graphs_7_b_check, ui->graphs_8_b_check, ui->graphs_9_b_check}}};
    widgets.perSecondMode = ui->graphs_ps_radio;
    widgets.scale = ui->graphs_resolution_dropdown;
    widgets.bandwidthAlarm = {ui->log_a_bw_check, ui->log_b_bw_check};
    widgets.bandwidthThreshold = {ui->log_a_bw_val, ui->log_b_bw_val};
    widgets.crcAlarm = {ui->log_a_crc_check, ui->log_b_crc_check};
    widgets.crcThreshold = {ui->log_a_crc_val, ui->log_b_crc_val};
    widgets.log = ui->log_txt;
    widgets.dropped = ui->features_drop_label;
    widgets.linkUp = ui->features_link_up_label;
    widgets.linkDown = ui->features_link_down_label;
    statistics_ = std::make_unique<StatisticsView>(widgets, [this] { resetAll(false); });
}

void MainWindow::buildSelector() {
    selector_ = new DeviceComboBox(this);
    // Beside the tabs, which scroll rather than slide under it when the
    // window is narrow; it is as wide as its longest item.
    ui->tabWidget->setCornerWidget(selector_, Qt::TopRightCorner);
    selector_->show();
    selector_->addItem(QStringLiteral("No device connected"));
    selector_->setEnabled(false);
    connect(selector_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainWindow::changeDevice);
    connect(selector_, &DeviceComboBox::FriendlyNameChanged, this,
            &MainWindow::slot_device_friendly_name_changed);
}

void MainWindow::setUpCaptureDefaults() {
    QSlider* buffer = ui->maxCacheSizeTrackBar;
    buffer->setMinimum(10);
    buffer->setValue(CapturePage::defaultBufferMegabytes(AvailableMemory::bytes()));
    ui->capture_filename->setText(settings_->captureLocation());
    ui->GlintfieldCapturePath->setText(settings_->addonCaptureFolder());
}

void MainWindow::recordPages() {
    for (int i = 0; i < ui->tabWidget->count(); ++i) {
        pages_.append(ui->tabWidget->widget(i));
        pageTitles_.append(ui->tabWidget->tabText(i));
    }
}

void MainWindow::rebuildPages(NettlebeamApiCapabilities caps) {
    QTabWidget* tabs = ui->tabWidget;
    tabs->clear();
    auto add = [&](int page) { tabs->addTab(pages_[page], pageTitles_[page]); };
    if (has(caps, CapStatisticsV1)) {
        add(Statistics);
        add(Charts);
        add(Log);
    }
    if (has(caps, CapStatisticsV2)) add(CountersV2);
    if (has(caps, CapSfp)) {
        add(Sfp);
    } else if (has(caps, CapPortSpeedSelect)) {
        add(NetworkPorts);
    }
    if (has(caps, CapPacketFilter)) add(Filters);
    if (has(caps, CapTiming)) add(Timing);
    add(Features);
    if (has(caps, CapDeviceControl)) add(Capture);
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i).compare(pageTitles_[Features], Qt::CaseInsensitive) == 0)
            tabs->setCurrentIndex(i);
    }
}

NettlebeamApiCapabilities MainWindow::currentCapabilities() const {
    if (currentDevice_ == placeholder_) return 0;
    return NettlebeamAPIGetDeviceCapabilitiesEx(currentDevice_->handle);
}

StatsThreadInfo MainWindow::requestFor(const NettlebeamDevice& device) const {
    StatsThreadInfo info;
    info.handle = device.handle;
    return info;
}

void MainWindow::updateStats() {
    if (currentDevice_ == placeholder_ || updateInProgress_) return;
    emit signal_get_iface_status(requestFor(*currentDevice_));
}

void MainWindow::addIface(const StatsThreadInfo& sti) {
    if (!versionsAcceptable(sti)) return;
    // An arrival for a handle still listed replaces the old record.
    if (sti.handle == placeholder_->handle) return;
    if (devices_.contains(sti.handle)) delIface(sti);

    auto* device = new NettlebeamDevice;
    device->handle = sti.handle;
    device->type = sti.type;
    device->mac = macText(sti.mac);
    device->friendlyName = settings_->friendlyName(device->mac);
    device->features = sti.features;
    devices_.insert(device->handle, device);

    if (currentDevice_ == placeholder_) {
        currentDevice_ = device;
        resetAll(true);
        selector_->clear();
        selector_->setEnabled(true);
    }
    selector_->addDevice(device);
    offerFirmware(sti);
}

void MainWindow::delIface(const StatsThreadInfo& sti) {
    // Devices refused at arrival were never listed; their removal is ignored.
    if (sti.handle == placeholder_->handle || !devices_.contains(sti.handle)) return;
    NettlebeamDevice* device = devices_.take(sti.handle);
    for (int i = selector_->count() - 1; i >= 0; --i) {
        auto* listed = selector_->itemData(i, Qt::UserRole).value<NettlebeamDevice*>();
        if (listed != nullptr && listed->handle == sti.handle) selector_->removeItem(i);
    }
    if (currentDevice_ == device) currentDevice_ = placeholder_;
    if (selector_->count() == 0) showNoDevice();
    ui->Cloudshark->deviceLeft(sti.handle);
    delete device;
    if (updateInProgress_ && sti.handle == updatingHandle_) finishUpdate(false);
}

void MainWindow::showNoDevice() {
    currentDevice_ = placeholder_;
    ui->features_link_speed_label->clear();
    clearDeviceFigures();
    ui->features_status_label->setText(QStringLiteral("No Device Connected"));
    enableControls(false);
    const QSignalBlocker blocker(selector_);
    selector_->addItem(QStringLiteral("No device connected"));
    selector_->setEnabled(false);
    showDeviceImage(DeviceTypeNone);
    ui->FirmwareSelection->hide();
    ui->FirmwareSelectionCB->clear();
}

void MainWindow::changeDevice(int index) {
    NettlebeamDevice* device = nullptr;
    if (index >= 0 && currentDevice_ != placeholder_) {
        auto* listed = selector_->itemData(index, Qt::UserRole).value<NettlebeamDevice*>();
        if (listed != nullptr) device = devices_.value(listed->handle);
    }
    clearDeviceFigures();
    if (device == nullptr) {
        qDebug("Device change no intf or no index\n");
        rebuildPages(0);
        showDeviceImage(DeviceTypeNone);
        return;
    }
    currentDevice_ = device;
    statistics_->startDevice();
    ui->OSXWarning->hide();
    showDeviceImage(device->type);

    const NettlebeamApiCapabilities caps = NettlebeamAPIGetDeviceCapabilitiesEx(device->handle);
    rebuildPages(caps);
    emit signal_get_features(requestFor(*device));
    resetAll(true);

    if (has(caps, CapStatisticsV2)) loadCounterConfigs(*device);
    if (has(caps, CapPacketFilter)) {
        emit signal_get_simplefilter(requestFor(*device));
        emit signal_get_dpifilter(requestFor(*device));
    }
    if (has(caps, CapPacketsTypeFilter)) emit signal_get_packetstypefilter(requestFor(*device));
    // Older ten-gigabit firmware has the other filters but not this one.
    ui->PacketsTypeFilter_Groupbox->setVisible(has(caps, CapPacketsTypeFilter));

    ui->capture_filetype->clear();
    if (has(caps, CapCapture)) ui->capture_filetype->addItem(QStringLiteral("PCAP-NG"));
    listFirmwareImages(*device);
}

void MainWindow::listFirmwareImages(const NettlebeamDevice& device) {
    ui->FirmwareSelectionCB->clear();
    NettlebeamApiHwFirmwaresDesc images{};
    if (NettlebeamAPIGetHwFirmwaresDesc(device.handle, &images) != 0) return;
    const int count = std::clamp(images.count, 0, NETTLEBEAM_MAX_FIRMWARE_IMAGES);
    for (int i = 0; i < count; ++i) {
        const char* name = images.names[i];
        ui->FirmwareSelectionCB->addItem(
            QString::fromLatin1(name, qstrnlen(name, NETTLEBEAM_FIRMWARE_NAME_SIZE)), i);
    }
}

void MainWindow::loadCounterConfigs(const NettlebeamDevice& device) {
    const std::optional<CounterConfigs> configs = settings_->loadCounters(device.mac);
    if (!configs) return;
    const QList<CounterV2Control*> counters = counterControls();
    for (int n = 0; n < kProgrammableCounters; ++n) {
        counters[n]->setVisible(true);
        counters[n]->setNumber(n);
        counters[n]->setDefinition((*configs)[n]);
    }
    // A device never seen here may count what beamctl or another host
    // programmed: its own definitions are shown and stored, not overwritten
    // with the defaults (those stay shown until the answers arrive).
    countersReceived_ = 0;
    if (!settings_->hasCounters(device.mac)) {
        emit signal_get_v2counterconfigs(requestFor(device));
        return;
    }
    for (int n = 0; n < kProgrammableCounters; ++n) {
        StatsThreadInfo info = requestFor(device);
        info.counterConfig = (*configs)[n];
        emit signal_set_v2counterconfig(info);
    }
}

void MainWindow::resetAll(bool resetLog) {
    statistics_->reset(resetLog);
    for (CounterV2Control* counter : counterControls()) counter->restart();
    ui->timingChart->reset();
}

void MainWindow::counters_reset() {
    statistics_->resetCounters(0);
    statistics_->resetCounters(1);
}

void MainWindow::counters_resetA() {
    statistics_->resetCounters(0);
}

void MainWindow::counters_resetB() {
    statistics_->resetCounters(1);
}

void MainWindow::graphs_display() {
    statistics_->display();
}

void MainWindow::graphs_clear() {
    statistics_->clearCharts();
}

void MainWindow::on_log_clear_btn_clicked() {
    statistics_->clearLog();
}

void MainWindow::statusUpdate(const StatsThreadInfo& sti) {
    if (!isCurrent(sti.handle)) return;
    qCDebug(lcStatus, "status answer of device %d", sti.handle);
    refreshDescription(sti);
    const NettlebeamApiCapabilities caps = sti.capabilities;
    if (has(caps, CapStatisticsV1)) {
        statistics_->update(sti.statistics);
        droppedUpdate(sti);
    }
    if (has(caps, CapStatisticsV2)) {
        for (CounterV2Control* counter : counterControls()) counter->updateCounters(sti);
        ui->features_drop_label->setText(QString::number(sti.statistics.data.v2.counters[15]));
        droppedUpdate(sti);
    }
    if (has(caps, CapSfp)) {
        ui->sfpDisp->refresh(sti);
        ui->features_link_speed_label->setText(DeviceDescription::moduleText(sti.linkStatus));
    }
    if (has(caps, CapTiming)) timingStatusUpdate(sti);
    if (has(caps, CapDeviceControl)) showCaptureStatus(sti.captureStatus);
    if (has(caps, CapStatisticsV1)) phyTables_->update(sti.linkStatus, caps);
}

// Only the selected device's statistics fill these; a device without them
// (and no device) shows none rather than the last device's.
void MainWindow::clearDeviceFigures() {
    for (QLabel* figure : {ui->features_link_up_label, ui->features_link_down_label,
                           ui->features_drop_label, ui->features_sw_dropped}) {
        figure->clear();
    }
}

void MainWindow::droppedUpdate(const StatsThreadInfo& sti) {
    if (!isCurrent(sti.handle)) return;
    const bool counted =
        has(sti.capabilities, CapStatisticsV1) || has(sti.capabilities, CapStatisticsV2);
    ui->features_sw_dropped->setText(counted ? QString::number(sti.statistics.swDropped)
                                             : QStringLiteral("0"));
}

void MainWindow::refreshDescription(const StatsThreadInfo& sti) {
    enableControls(true);
    ui->features_status_label->setText(
        DeviceDescription::describe(currentDevice_->type, sti.versions, sti.mac, sti.extraInfo));
    if (has(sti.capabilities, CapSfp)) return;  // the module line follows the SFP update
    const bool inlineMode = currentDevice_->features.inlineMode != 0;
    ui->features_link_speed_label->setText(
        DeviceDescription::linkText(sti.linkStatus, sti.capabilities, inlineMode));
}

void MainWindow::featuresUpdate(const StatsThreadInfo& sti) {
    if (!isCurrent(sti.handle)) return;
    currentDevice_->features = sti.features;
    FeaturesForm::display(*ui, currentCapabilities(), sti.features, sti.portsSpeed,
                          featuresApplyTimer_->isActive());
}

void MainWindow::showDeviceImage(NettlebeamApiDeviceType type) {
    ui->model_logo->setPixmap(QPixmap(deviceImagePath(type))
                                  .scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

bool MainWindow::versionsAcceptable(const StatsThreadInfo& sti) {
    const std::optional<VersionProblem> problem = VersionCheck::check(
        VersionNumber::fromBytes(sti.versions.driverVersion), NettlebeamAPIGetVersion());
    if (!problem) return true;
    showBox(QMessageBox::Critical, problem->title, problem->text);
    return false;
}

void MainWindow::offerFirmware(const StatsThreadInfo& sti) {
    if (!firmware_.isUpdateAvailable(static_cast<uint32_t>(sti.type), sti.versions,
                                     sti.features.configWord4High)) {
        qDebug("No new version found!");
        return;
    }
    const FirmwareStashEntry entry = firmware_.entryForType(sti.type);
    const QString path = entry.file;
    if (path.isEmpty()) return;
    qDebug("New version found!");
    const uint32_t slot = sti.features.configWord4High;
    std::optional<uint32_t> hardwareTo;
    if (slot < uint32_t(entry.hwVersions.size())) hardwareTo = entry.hwVersions[int(slot)];
    const QString mac = macText(sti.mac);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Firmware Update"),
                    FirmwareOffer::text(sti.type, mac, settings_->friendlyName(mac), sti.versions,
                                        entry.swVersion, hardwareTo),
                    QMessageBox::Yes | QMessageBox::No, this);
    const int answer = box.exec();
    // The device may have left while the question was open.
    NettlebeamDevice* device = devices_.value(sti.handle);
    if (device == nullptr) return;
    if (answer != QMessageBox::Yes) {
        qDebug("Yes was *not* clicked");
        return;
    }
    qDebug("Yes was clicked");
    ui->features_firmware_file->setText(path);
    startUpdate(*device, path);
}

void MainWindow::userStartUpdate() {
    if (!canRequest()) return;
    startUpdate(*currentDevice_, ui->features_firmware_file->text());
}

void MainWindow::startUpdate(const NettlebeamDevice& device, const QString& path) {
    StatsThreadInfo info = requestFor(device);
    // UTF-8 on both sides of the worker; a path the record cannot hold whole
    // is refused rather than cut.
    const QByteArray utf8 = path.toUtf8();
    if (path.isEmpty() || utf8.size() >= int(sizeof info.firmwarePath)) {
        showBox(QMessageBox::Critical, QStringLiteral("Firmware Update"), kUpdateFailedText);
        return;
    }
    qstrncpy(info.firmwarePath, utf8.constData(), sizeof info.firmwarePath);
    updateInProgress_ = true;
    updatingHandle_ = device.handle;
    selector_->setEnabled(false);
    enableControls(false);
    emit signal_start_update(info);
}

void MainWindow::updateProgress(const StatsThreadInfo& sti) {
    if (!updateInProgress_ || sti.handle != updatingHandle_) return;
    ui->progressBar->setValue(sti.updateProgress);
}

void MainWindow::updateFinished(const StatsThreadInfo& sti) {
    if (!updateInProgress_ || sti.handle != updatingHandle_) return;
    finishUpdate(sti.updateSucceeded);
}

void MainWindow::finishUpdate(bool succeeded) {
    updateInProgress_ = false;
    updatingHandle_ = -1;
    selector_->setEnabled(currentDevice_ != placeholder_);
    enableControls(true);
    if (succeeded) {
        showBox(QMessageBox::Information, QStringLiteral("Firmware Update"),
                QStringLiteral("Firmware successfully updated.\nPlease disconnect and reconnect "
                               "your Nettlebeam device."));
    } else {
        showBox(QMessageBox::Critical, QStringLiteral("Firmware Update"), kUpdateFailedText);
    }
}

void MainWindow::slot_SelectFirmware() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open Firmware File"), QStringLiteral("/home"),
        QStringLiteral("Nettlebeam Firmware File (*.img)"));
    if (!path.isEmpty()) ui->features_firmware_file->setText(path);
}

void MainWindow::slot_capture_browse() {
    const QString start = QFileInfo(ui->capture_filename->text()).absolutePath();
    QString filter;
    const QString pcapng = QStringLiteral("PCAP-NG Capture File (*.pcapng)");
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Output Capture File"), start,
                                                pcapng, &filter);
    qDebug("Selected filter : %s\n", qPrintable(filter));
    if (path.isEmpty()) return;
    if (filter == pcapng && !path.endsWith(QStringLiteral(".pcapng"), Qt::CaseInsensitive)) {
        path += QStringLiteral(".pcapng");
    }
    ui->capture_filename->setText(path);
    settings_->storeCaptureLocation(path);
}

void MainWindow::userSaveFeatures() {
    if (!canRequest()) return;
    emit signal_save_features(requestFor(*currentDevice_));
}

void MainWindow::featuresSaved(NettlebeamApiDeviceHandle handle, int32_t status) {
    if (!isCurrent(handle)) return;
    if (status != NETTLEBEAM_STATUS_SUCCESS) {
        showBox(QMessageBox::Critical, QStringLiteral("Save Configuration"),
                QStringLiteral("The configuration could not be saved on the Nettlebeam device."));
        return;
    }
    showBox(QMessageBox::Information, QStringLiteral("Save Configuration"),
            QStringLiteral("Configuration has been saved on the Nettlebeam device."));
    ui->features_save_btn->setEnabled(false);
    ui->TimingSave->setEnabled(false);
    ui->features_save_btn2->setEnabled(true);
    ui->features_save_btn3->setEnabled(true);
}

void MainWindow::slot_restart_device() {
    if (!canRequest()) return;
    emit signal_restart_device(requestFor(*currentDevice_));
}

void MainWindow::slot_sntp_failed(const QString& info) {
    showBox(QMessageBox::Critical, QStringLiteral("SNTP Time"), info);
}

void MainWindow::showBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}

// An edited counter goes to the device, and all sixteen to the settings.
void MainWindow::counterV2ConfigChanged(int n) {
    const QList<CounterV2Control*> counters = counterControls();
    if (!canRequest() || n < 0 || n >= counters.size()) return;
    StatsThreadInfo info = requestFor(*currentDevice_);
    info.counterConfig = counters[n]->definition();
    emit signal_set_v2counterconfig(info);
    storeCounterConfigs();
}

// The settings learn the device's definitions once all sixteen were read:
// a part would store defaults for the rest, to be sent the next time.
void MainWindow::counterV2ConfigReceived(const StatsThreadInfo& sti) {
    const int n = sti.counterConfig.index;
    if (!isCurrent(sti.handle) || n < 0 || n >= kProgrammableCounters) return;
    counterControls()[n]->setDefinition(sti.counterConfig);
    countersReceived_ |= 1u << n;
    if (countersReceived_ == (1u << kProgrammableCounters) - 1) storeCounterConfigs();
}

void MainWindow::storeCounterConfigs() {
    QList<StoredCounter> stored;
    for (const CounterV2Control* counter : counterControls())
        stored.append({counter->definition(), counter->counterHidden()});
    settings_->storeCounters(currentDevice_->mac, stored);
}

void MainWindow::slot_device_friendly_name_changed(NettlebeamDevice* dev) {
    if (dev == nullptr || !devices_.contains(dev->handle)) return;
    settings_->storeFriendlyName(dev->mac, dev->friendlyName);
}

void MainWindow::buildFilterPage() {
    filters_ = std::make_unique<FilterPage>(*ui, this, [this]() -> std::optional<StatsThreadInfo> {
        if (!canRequest()) return std::nullopt;
        return requestFor(*currentDevice_);
    });
    connect(filters_.get(), &FilterPage::setSimpleFilter, this,
            &MainWindow::signal_set_simplefilter);
    connect(filters_.get(), &FilterPage::saveSimpleFilter, this,
            &MainWindow::signal_save_simplefilter);
    connect(filters_.get(), &FilterPage::setDpiFilter, this, &MainWindow::signal_set_dpifilter);
    connect(filters_.get(), &FilterPage::saveDpiFilter, this, &MainWindow::signal_save_dpifilter);
    connect(filters_.get(), &FilterPage::setPacketsTypeFilter, this,
            &MainWindow::signal_set_packetstypefilter);
    connect(filters_.get(), &FilterPage::savePacketsTypeFilter, this,
            &MainWindow::signal_save_packetstypefilter);
    connect(ui->filterCtrl, &FilterControl::signal_filterChanged, this,
            &MainWindow::slot_filterChanged);
}

// Made after the capture folder was loaded: only the user's changes are stored.
void MainWindow::buildAddonPage() {
    addon_ = std::make_unique<AddonPage>(*ui, *settings_, this);
    connect(addon_.get(), &AddonPage::command, this, &MainWindow::signal_glintfieldmonitor_command);
    connect(this, &MainWindow::signal_glintfieldmonitor_command, &glintfieldMonitor_,
            &GlintfieldMonitor::Command);
    connect(&glintfieldMonitor_, &GlintfieldMonitor::StatusChanged, this,
            &MainWindow::slot_glintfieldmonitor_changed);
    connect(ui->GlintfieldEditServer, &QPushButton::clicked, this,
            &MainWindow::slot_edit_glintfield_server_file);
    connect(ui->GlintfieldEditPS, &QPushButton::clicked, this,
            &MainWindow::slot_edit_glintfield_ps_file);
    connect(ui->GlintfieldEditES, &QPushButton::clicked, this,
            &MainWindow::slot_edit_glintfield_es_file);
    connect(ui->GlintfieldStart, &QPushButton::clicked, this,
            &MainWindow::slot_glintfield_startstop);
    for (QRadioButton* mode :
         {ui->GlintfieldModeListening, ui->GlintfieldModeLocal, ui->GlintfieldModeRemote}) {
        connect(mode, &QRadioButton::toggled, this,
                &MainWindow::slot_glintfield_update_greybullets);
    }
    connect(ui->GlintfieldBrowse, &QPushButton::clicked, this,
            &MainWindow::slot_glintfield_select_directory);
    connect(ui->GlintfieldCapturePath, &QLineEdit::textChanged, this,
            &MainWindow::slot_glintfield_directory_changed);
}

void MainWindow::slot_edit_glintfield_server_file() {
    addon_->editConfig(QLatin1String(GlintfieldMonitor::kServerConfig));
}
void MainWindow::slot_edit_glintfield_ps_file() {
    addon_->editConfig(QLatin1String(GlintfieldMonitor::kEngineConfig));
}
void MainWindow::slot_edit_glintfield_es_file() {
    addon_->editConfig(QLatin1String(GlintfieldMonitor::kElasticSearchConfigFolder) +
                       QStringLiteral("/elasticsearch.yml"));
}
void MainWindow::slot_glintfieldmonitor_changed(
    GlintfieldMonitor::glintfieldmonitor_target target,
    GlintfieldMonitor::glintfieldmonitor_status status) {
    addon_->statusChanged(target, status);
}
void MainWindow::slot_glintfield_startstop() {
    addon_->startStopClicked();
}
void MainWindow::slot_glintfield_update_greybullets() {
    addon_->modeChanged();
}
void MainWindow::slot_glintfield_select_directory() {
    addon_->browseCaptureFolder();
}
void MainWindow::slot_glintfield_directory_changed() {
    addon_->captureFolderEdited();
}

void MainWindow::on_enableSimpleFiltersCB_toggled(bool checked) {
    filters_->simpleFilterEnableToggled(checked);
}
void MainWindow::on_setSimpleFiltersBT_clicked() {
    filters_->simpleFilterSetClicked();
}
void MainWindow::on_saveSimpleFiltersBT_clicked() {
    filters_->simpleFilterSaveClicked();
}
void MainWindow::on_enableFiltersCheckBox_toggled(bool checked) {
    filters_->dpiFilterEnableToggled(checked);
}
void MainWindow::on_setFiltersButton_clicked() {
    filters_->dpiFilterSetClicked();
}
void MainWindow::on_saveFiltersButton_clicked() {
    filters_->dpiFilterSaveClicked();
}
void MainWindow::slot_filterChanged() {
    filters_->dpiFilterEdited();
}
void MainWindow::on_setPacketsTypeFilterBT_clicked() {
    filters_->packetsTypeFilterSetClicked();
}
void MainWindow::on_savePacketsTypeFilterBT_clicked() {
    filters_->packetsTypeFilterSaveClicked();
}

void MainWindow::slot_simpleFilterReceived(const StatsThreadInfo& info) {
    if (isCurrent(info.handle)) filters_->showSimpleFilter(info.packetFilter);
}
void MainWindow::slot_DPIFilterReceived(const StatsThreadInfo& info) {
    if (isCurrent(info.handle)) filters_->showDpiFilter(info.dpiFilter);
}
void MainWindow::slot_PacketsTypeFilterReceived(const StatsThreadInfo& info) {
    if (isCurrent(info.handle)) filters_->showPacketsTypeFilter(info.packetsTypeFilter);
}

void MainWindow::enableControls(bool enable) {
    ControlEnabler::apply(*ui, currentCapabilities(), enable, updateInProgress_,
                          currentDevice_->features.inlineMode != 0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!updateInProgress_) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    showBox(QMessageBox::Warning, QStringLiteral("Firmware Update"),
            QStringLiteral("A firmware update is running. Closing Nettlebeam Manager now would "
                           "interrupt it.\nPlease wait until the update has finished."));
}

void MainWindow::userChangedFeatures() {
    if (!canRequest()) return;
    const NettlebeamApiCapabilities caps = currentCapabilities();
    if (has(caps, CapPerPortLinkStatus)) {
        PortInterlock::apply(FeaturesForm::portBoxes(*ui, 0), sender());
        PortInterlock::apply(FeaturesForm::portBoxes(*ui, 1), sender());
    }
    FeaturesForm::collect(*ui, caps, &currentDevice_->features);
    StatsThreadInfo info = requestFor(*currentDevice_);
    info.features = currentDevice_->features;
    info.portsSpeed = FeaturesForm::portsSpeed(*ui);
    emit signal_set_features(info);
    emit signal_get_features(info);
    for (QPushButton* save :
         {ui->features_save_btn, ui->features_save_btn2, ui->features_save_btn3, ui->TimingSave}) {
        save->setEnabled(true);
    }
}

void MainWindow::timingPPSDelayChanged(int) {
    FeaturesForm::refreshPpsDelayLabel(*ui);
    featuresApplyTimer_->start();
}

void MainWindow::slot_load_network_default() {
    FeaturesForm::loadNetworkDefaults(*ui);
}

void MainWindow::slot_set_fw() {
    if (!canRequest()) return;
    ui->FirmwareSelectionBT->setEnabled(false);
    const NettlebeamApiDeviceHandle handle = currentDevice_->handle;
    NettlebeamApiDeviceFeatures features{};
    if (NettlebeamAPIGetDeviceFeatures(handle, &features) != NETTLEBEAM_STATUS_SUCCESS) return;
    features.configWord4High = uint8_t(ui->FirmwareSelectionCB->currentData().toInt());
    if (NettlebeamAPISetDeviceFeatures(handle, features) != NETTLEBEAM_STATUS_SUCCESS) return;
    if (NettlebeamAPISaveDeviceFeatures(handle) != NETTLEBEAM_STATUS_SUCCESS) return;
    slot_restart_device();
}

void MainWindow::resync(int32_t source) {
    if (!canRequest()) return;
    StatsThreadInfo info = requestFor(*currentDevice_);
    info.timingSet.source = source;
    emit signal_timing_resync(info);
}

void MainWindow::on_TimingSetGPSTime_clicked() {
    resync(TimeSource::kGps);
}

void MainWindow::on_TimingSetSNTPTime_clicked() {
    resync(TimeSource::kSntp);
}

void MainWindow::timingStatusUpdate(const StatsThreadInfo& sti) {
    if (!isCurrent(sti.handle)) return;
    TimingDisplay::show(*ui, sti.timingStatus, QDateTime::currentMSecsSinceEpoch() / 1000.0);
}

void MainWindow::slot_timing_graph_reset() {
    ui->timingChart->reset();
}

void MainWindow::on_capture_start_btn_clicked() {
    if (!canRequest()) return;
    ui->capture_start_btn->setEnabled(false);
    StatsThreadInfo info = requestFor(*currentDevice_);
    if (captureRunning_) {
        emit signal_dd_stop(info);
        return;
    }
    const QString missing = CapturePage::missingFolder(
        ui->capture_filename->text(),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    if (!missing.isEmpty()) {
        ui->capture_start_btn->setEnabled(true);
        showBox(QMessageBox::Critical, QStringLiteral("Direct Capture"),
                QStringLiteral("The folder %1 does not exist.\nPlease choose an existing folder "
                               "for the capture file.")
                    .arg(QDir::toNativeSeparators(missing)));
        return;
    }
    if (!CapturePage::buildConfig(*ui, currentCapabilities(), &info.captureConfig)) {
        ui->capture_start_btn->setEnabled(true);
        showCaptureError();
        return;
    }
    emit signal_dd_set_config(info);
    emit signal_dd_start(info);
    ui->capture_dropped_label->setText(QStringLiteral("0 Bytes"));
}

void MainWindow::showCaptureStatus(const NettlebeamApiDiskDumpStatus& status) {
    captureRunning_ = CapturePage::showStatus(*ui, status);
    if (status.error == 0) {
        lastCaptureError_ = 0;
        startRefusalShown_ = false;
    } else if (status.error != lastCaptureError_) {
        lastCaptureError_ = status.error;
        // A refused start was reported already; the device's error is the same failure.
        if (!std::exchange(startRefusalShown_, false)) showCaptureError();
    }
}

void MainWindow::captureStartRefused(NettlebeamApiDeviceHandle handle, int32_t) {
    if (!isCurrent(handle)) return;
    ui->capture_start_btn->setEnabled(true);
    startRefusalShown_ = true;
    showCaptureError();
}

void MainWindow::showCaptureError() {
    showBox(
        QMessageBox::Critical, QStringLiteral("Direct Capture"),
        QStringLiteral("There was an error during the direct capture process.\nPlease check you "
                       "have permission to write to the specified file and disk is not full"));
}

void MainWindow::on_capture_filetype_currentIndexChanged(int index) {
    ui->capture_filename->setText(CapturePage::withExtension(ui->capture_filename->text(), index));
}

void MainWindow::on_maxCacheSizeTrackBar_valueChanged(int value) {
    ui->maxCacheSizeLabel->setText(CapturePage::bufferSizeText(value));
}
