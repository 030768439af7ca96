#include "controlenabler.h"

#include "ui_mainwindow.h"

namespace {

bool has(NettlebeamApiCapabilities caps, uint32_t bit) {
    return (caps & bit) != 0;
}

// The boxes that only mean something while the port negotiates its link.
struct PortBoxes {
    QCheckBox* autoNegotiation;
    QList<QCheckBox*> forcedSpeeds;    // follow `enable`
    QList<QCheckBox*> negotiatedOnly;  // follow `enable` only with auto-negotiation
};

void applyPort(const PortBoxes& port, bool enable) {
    port.autoNegotiation->setEnabled(enable);
    for (QCheckBox* box : port.forcedSpeeds) box->setEnabled(enable);
    const bool negotiated = enable && port.autoNegotiation->isChecked();
    for (QCheckBox* box : port.negotiatedOnly) box->setEnabled(negotiated);
}

}  // namespace

void ControlEnabler::apply(Ui::MainWindow& ui, NettlebeamApiCapabilities caps, bool enable,
                           bool updateInProgress, bool inlineMode) {
    bool c = enable && !updateInProgress;
    const QList<QPushButton*> saveButtons = {ui.features_save_btn, ui.features_save_btn2,
                                             ui.features_save_btn3, ui.TimingSave};
    if (!has(caps, CapDeviceControl)) c = false;
    if (!c) {
        for (QPushButton* button : saveButtons) button->setEnabled(false);
    }

    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui.features_disable_porta_check, ui.features_disable_portb_check,
             ui.features_keep_crc_check, ui.features_packet_slicing_check,
             ui.features_transmit_crc_check, ui.capture_start_btn, ui.features_timestamps_check,
             ui.features_syncts}) {
        widget->setEnabled(c);
    }
    if (!has(caps, CapPacketSlicing) || !c) {
        ui.features_packet_slicing_length->setEnabled(false);
        ui.features_packet_slicing_length->hide();
    }

    ui.progressBar->setMaximum(100);
    ui.restart_device_btn->setEnabled(c);
    ui.features_flash_btn->setEnabled(has(caps, CapFirmwareUpdate) && c);

    const bool loopback = c && has(caps, CapLoopback) && !inlineMode;
    ui.loopbackCheckBox->setEnabled(loopback);
    ui.loopbackCheckBox2->setEnabled(loopback);

    applyPortBoxes(ui, c && has(caps, CapPortSpeedSelect), inlineMode);
    ui.groupBox_14->setVisible(has(caps, CapPoe));
    applyOtherPages(ui, !updateInProgress);
}

// Everything else that sends to the device. These pages show only while a
// device is selected, and their states follow the device's answers, so only
// a running update takes them away. The groups are switched as a whole:
// their buttons keep the states the pages gave them (a filter's "Save" only
// after a "Set", for one) and get them back with the group.
void ControlEnabler::applyOtherPages(Ui::MainWindow& ui, bool enable) {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui.FirmwareSelection, ui.timingSettingsGroup, ui.TimingSetGPSTime,
             ui.TimingSetSNTPTime, ui.SimpleFilter_Groupbox, ui.DPIFilter_Groupbox,
             ui.PacketsTypeFilter_Groupbox}) {
        widget->setEnabled(enable);
    }
    // Each programmable counter's "Edit" sends its definition.
    for (QPushButton* edit : ui.tab->findChildren<QPushButton*>(QStringLiteral("editBtn")))
        edit->setEnabled(enable);
}

void ControlEnabler::applyPortBoxes(Ui::MainWindow& ui, bool enable, bool inlineMode) {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui.network_default_button, ui.spanModeCheckbox, ui.spanModeCheckbox2}) {
        widget->setEnabled(enable);
    }
    const PortBoxes portA{
        ui.portAAN,
        {ui.portA100F, ui.portA10F, ui.portA100H, ui.portA10H},
        {ui.portA1000F, ui.portAAPause, ui.portASPause, ui.portAForceMS, ui.portAMaster}};
    const PortBoxes portB{
        ui.portBAN,
        {ui.portB100F, ui.portB10F, ui.portB100H, ui.portB10H},
        {ui.portB1000F, ui.portBAPause, ui.portBSPause, ui.portBForceMS, ui.portBMaster}};
    applyPort(portA, enable);
    // In inline mode both ports share one link, set through port A.
    applyPort(portB, enable && !inlineMode);
}
