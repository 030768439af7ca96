#include "featuresform.h"

#include <QSignalBlocker>

#include "ui_mainwindow.h"
#include "widgethelpers.h"

namespace {

constexpr double kPpsDelayStepNs = 0.23283064365386963;  // 1e9 / 2^32
constexpr int32_t kInitSourceValues[] = {3, 1, 2, 0};

bool has(NettlebeamApiCapabilities caps, uint32_t bit) {
    return (caps & bit) != 0;
}
bool isSet(int32_t flag) {
    return flag == 1;
}
int32_t flagOf(const QAbstractButton* box) {
    return box->isChecked() ? 1 : 0;
}

// A check box and the features field it shows.
struct FlagBox {
    QCheckBox* Ui::MainWindow::*box;
    int32_t NettlebeamApiDeviceFeatures::*field;
};
const FlagBox kCaptureFlags[] = {
    {&Ui::MainWindow::features_transmit_crc_check, &NettlebeamApiDeviceFeatures::keepCrcErrors},
    {&Ui::MainWindow::features_keep_crc_check, &NettlebeamApiDeviceFeatures::keepCrc32},
    {&Ui::MainWindow::features_disable_porta_check, &NettlebeamApiDeviceFeatures::disablePortA},
    {&Ui::MainWindow::features_disable_portb_check, &NettlebeamApiDeviceFeatures::disablePortB},
    {&Ui::MainWindow::features_packet_slicing_check, &NettlebeamApiDeviceFeatures::packetSlicing},
    {&Ui::MainWindow::features_timestamps_check, &NettlebeamApiDeviceFeatures::timestamps},
    {&Ui::MainWindow::features_syncts, &NettlebeamApiDeviceFeatures::syncTimestamps},
};

// The port speed record's fields in the order of boxList().
int32_t NettlebeamApiPortSpeed::*const kSpeedFields[] = {
    &NettlebeamApiPortSpeed::autoNegotiation, &NettlebeamApiPortSpeed::fullDuplex1000,
    &NettlebeamApiPortSpeed::fullDuplex100,   &NettlebeamApiPortSpeed::halfDuplex100,
    &NettlebeamApiPortSpeed::fullDuplex10,    &NettlebeamApiPortSpeed::halfDuplex10,
    &NettlebeamApiPortSpeed::asymmetricPause, &NettlebeamApiPortSpeed::symmetricPause,
    &NettlebeamApiPortSpeed::master,          &NettlebeamApiPortSpeed::forceMasterSlave};

QList<QCheckBox*> boxList(const PortBoxes& p) {
    return {p.autoNegotiation, p.full1000,        p.full100,        p.half100, p.full10,
            p.half10,          p.asymmetricPause, p.symmetricPause, p.master,  p.forceMasterSlave};
}

void setComboWithoutSignals(QComboBox* combo, int index) {
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
}

}  // namespace

int FeaturesForm::initSourceIndex(int32_t value) {
    for (int i = 0; i < 4; ++i) {
        if (kInitSourceValues[i] == value) return i;
    }
    return -1;
}

int32_t FeaturesForm::initSourceValue(int index) {
    return index >= 0 && index < 4 ? kInitSourceValues[index] : kInitSourceValues[0];
}

QString FeaturesForm::ppsDelayText(int sliderValue) {
    return QStringLiteral("%1 ns").arg(sliderValue * kPpsDelayStepNs, 0, 'f', 2);
}

void FeaturesForm::refreshPpsDelayLabel(Ui::MainWindow& ui) {
    ui.TimingPPSDelayLabel->setText(ppsDelayText(ui.TimingPPSDelay->value()));
}

PortBoxes FeaturesForm::portBoxes(Ui::MainWindow& ui, int port) {
    if (port == 0) {
        return {ui.portAAN,  ui.portA1000F,  ui.portA100F,   ui.portA100H,   ui.portA10F,
                ui.portA10H, ui.portAAPause, ui.portASPause, ui.portAMaster, ui.portAForceMS};
    }
    return {ui.portBAN,  ui.portB1000F,  ui.portB100F,   ui.portB100H,   ui.portB10F,
            ui.portB10H, ui.portBAPause, ui.portBSPause, ui.portBMaster, ui.portBForceMS};
}

void FeaturesForm::display(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                           const NettlebeamApiDeviceFeatures& features,
                           const NettlebeamApiPortsSpeed& speeds, bool ppsDelayBeingEdited) {
    for (const FlagBox& flag : kCaptureFlags)
        checkWithoutSignals(ui.*flag.box, isSet(features.*flag.field));
    {
        QSpinBox* length = ui.features_packet_slicing_length;
        const QSignalBlocker blocker(length);
        const bool slicing = has(caps, CapPacketSlicing);
        length->setVisible(slicing);
        length->setEnabled(slicing && isSet(features.packetSlicing));
        length->setValue(slicing ? features.slicingLength : 0);
    }
    ui.capture_fullframe_box->setVisible(has(caps, CapCaptureV2));
    const bool loopback =
        has(caps, CapLoopback) && isSet(features.loopback) && features.inlineMode == 0;
    checkWithoutSignals(ui.loopbackCheckBox, loopback);
    checkWithoutSignals(ui.loopbackCheckBox2, loopback);
    const bool span = has(caps, CapPortSpeedSelect) && features.inlineMode != 1;
    checkWithoutSignals(ui.spanModeCheckbox, span);
    checkWithoutSignals(ui.spanModeCheckbox2, span);
    displayPorts(ui, speeds);
    if (has(caps, CapTiming)) displayTiming(ui, features, ppsDelayBeingEdited);
    displayFirmwareSelection(ui, caps, features);
}

void FeaturesForm::displayPorts(Ui::MainWindow& ui, const NettlebeamApiPortsSpeed& speeds) {
    for (int port = 0; port < 2; ++port) {
        const QList<QCheckBox*> boxes = boxList(portBoxes(ui, port));
        for (int i = 0; i < boxes.size(); ++i)
            checkWithoutSignals(boxes[i], isSet(speeds.ports[port].*kSpeedFields[i]));
    }
}

void FeaturesForm::displayTiming(Ui::MainWindow& ui, const NettlebeamApiDeviceFeatures& features,
                                 bool keepPpsDelay) {
    setComboWithoutSignals(ui.timestampInitSourceCB, initSourceIndex(features.timestampInitSource));
    checkWithoutSignals(ui.TimingWaitForSync, isSet(features.waitForSync));
    checkWithoutSignals(ui.forcePPSGenerationCB, isSet(features.forcePpsGeneration));
    checkWithoutSignals(ui.TimingPPSOutput, isSet(features.ppsOutput));
    setComboWithoutSignals(ui.TimingPortATStamp, features.portATimestampOn);
    setComboWithoutSignals(ui.TimingPortBTStamp, features.portBTimestampOn);
    if (!keepPpsDelay) {
        const QSignalBlocker blocker(ui.TimingPPSDelay);
        ui.TimingPPSDelay->setValue(-int(features.ppsDelay));
    }
    refreshPpsDelayLabel(ui);
}

void FeaturesForm::displayFirmwareSelection(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                                            const NettlebeamApiDeviceFeatures& features) {
    if (!has(caps, CapFirmwareSelection)) {
        ui.FirmwareSelection->hide();
        return;
    }
    setComboWithoutSignals(ui.FirmwareSelectionCB,
                           ui.FirmwareSelectionCB->findData(int(features.configWord4High)));
    ui.FirmwareSelectionBT->setEnabled(true);
    ui.FirmwareSelection->show();
}

void FeaturesForm::collect(Ui::MainWindow& ui, NettlebeamApiCapabilities caps,
                           NettlebeamApiDeviceFeatures* features) {
    for (const FlagBox& flag : kCaptureFlags) features->*flag.field = flagOf(ui.*flag.box);
    features->slicingLength =
        has(caps, CapPacketSlicing)
            ? static_cast<uint16_t>(ui.features_packet_slicing_length->value())
            : 0;
    const QCheckBox* loopback = has(caps, CapSfp) ? ui.loopbackCheckBox2 : ui.loopbackCheckBox;
    features->loopback = has(caps, CapLoopback) ? flagOf(loopback) : 0;
    if (has(caps, CapPortSpeedSelect)) {
        const QCheckBox* span = has(caps, CapSfp) ? ui.spanModeCheckbox2 : ui.spanModeCheckbox;
        features->inlineMode = span->isChecked() ? 0 : 1;
    }
    if (has(caps, CapTiming)) collectTiming(ui, features);
}

void FeaturesForm::collectTiming(Ui::MainWindow& ui, NettlebeamApiDeviceFeatures* features) {
    features->timestampInitSource = initSourceValue(ui.timestampInitSourceCB->currentIndex());
    auto anyButUnchecked = [](const QCheckBox* box) {
        return box->checkState() != Qt::Unchecked ? 1 : 0;
    };
    features->waitForSync = anyButUnchecked(ui.TimingWaitForSync);
    features->ppsOutput = anyButUnchecked(ui.TimingPPSOutput);
    features->forcePpsGeneration = anyButUnchecked(ui.forcePPSGenerationCB);
    auto stampPoint = [](const QComboBox* combo, int32_t* field) {
        const int index = combo->currentIndex();
        if (index >= 0 && index <= 2) *field = index;
    };
    stampPoint(ui.TimingPortATStamp, &features->portATimestampOn);
    stampPoint(ui.TimingPortBTStamp, &features->portBTimestampOn);
    features->ppsDelay = static_cast<uint16_t>(-ui.TimingPPSDelay->value());
    refreshPpsDelayLabel(ui);
}

NettlebeamApiPortsSpeed FeaturesForm::portsSpeed(Ui::MainWindow& ui) {
    NettlebeamApiPortsSpeed speeds{};
    for (int port = 0; port < 2; ++port) {
        const QList<QCheckBox*> boxes = boxList(portBoxes(ui, port));
        for (int i = 0; i < boxes.size(); ++i)
            speeds.ports[port].*kSpeedFields[i] = flagOf(boxes[i]);
    }
    return speeds;
}

void FeaturesForm::loadNetworkDefaults(Ui::MainWindow& ui) {
    for (int port = 0; port < 2; ++port) {
        const PortBoxes p = portBoxes(ui, port);
        for (QCheckBox* box : {p.autoNegotiation, p.full1000, p.full100, p.half100, p.full10,
                               p.half10, p.asymmetricPause, p.symmetricPause}) {
            checkWithoutSignals(box, true);
        }
        checkWithoutSignals(p.master, false);
        checkWithoutSignals(p.forceMasterSlave, false);
    }
    checkWithoutSignals(ui.loopbackCheckBox, false);
}
