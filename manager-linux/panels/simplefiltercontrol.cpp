#include "simplefiltercontrol.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QSignalBlocker>

#include "packet_filter_fields.h"
#include "qipvalidator.h"
#include "qmacvalidator.h"
#include "textfit.h"
#include "ui_simplefiltercontrol.h"

namespace records = nettlebeam::records;
using Field = records::FilterField;

namespace {

const QString kInvalidStyle = QStringLiteral("color: red");
const QString kNormalStyle = QStringLiteral("QLabel { }");

bool has(uint32_t flags, uint32_t bit) {
    return (flags & bit) != 0;
}

void setChecked(QCheckBox* box, bool checked) {
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

void setIndex(QComboBox* box, int index) {
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(index);
}

// One layer's rows: the source row always, the destination row only while
// the layer matches a source/destination pair.
struct Layer {
    QComboBox* mode;
    QLabel* sourceLabel;
    QWidget* destination[3];
    const char* pairedText;
    const char* eitherText;
};

void showLayer(const Layer& layer, bool either) {
    setIndex(layer.mode, either ? 1 : 0);
    for (QWidget* widget : layer.destination) widget->setVisible(!either);
    layer.sourceLabel->setText(QString::fromLatin1(either ? layer.eitherText : layer.pairedText));
}

}  // namespace

SimpleFilterControl::SimpleFilterControl(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::SimpleFilterControl>()) {
    ui_->setupUi(this);
    for (QLineEdit* edit : {ui_->srcIpTB, ui_->dstIpTB})
        edit->setValidator(new QIpValidator(edit, true, true));
    for (QLineEdit* edit : {ui_->srcMacTB, ui_->dstMacTB})
        edit->setValidator(new QMacValidator(edit));
    for (QLineEdit* edit : {ui_->srcPortTB, ui_->dstPortTB})
        edit->setValidator(new QIntValidator(0, 65535, edit));
    // Wide enough for the longest text each field takes, in its own font.
    for (QLineEdit* edit : {ui_->srcMacTB, ui_->dstMacTB})
        fitLineEdit(edit, {QStringLiteral("88:88:88:88:88:88"), QStringLiteral("**:**:**:**:**:**"),
                           QStringLiteral("DD:DD:DD:DD:DD:DD")});
    for (QLineEdit* edit : {ui_->srcIpTB, ui_->dstIpTB})
        fitLineEdit(edit, {QStringLiteral("8888:8888:8888:8888:8888:8888:8888:8888"),
                           QStringLiteral("DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD:DDDD"),
                           QStringLiteral("****:****:****:****:****:****:****:****")});
    for (QLineEdit* edit : {ui_->srcPortTB, ui_->dstPortTB})
        fitLineEdit(edit, {QStringLiteral("88888")});
    arrangeModes();
    setFilter(NettlebeamApiPacketFilter{});
}

// A row of label, IPv6-wide field, check box, version and mode box is wider
// than the window at 120 dpi. The MAC and port modes sit beside their short
// source fields instead, and the IP version and mode on a line of their own
// under the IP fields, so the panel is no wider than its labels, the IP
// fields and the check boxes.
void SimpleFilterControl::arrangeModes() {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (grid == nullptr) return;
    auto take = [grid](QWidget* widget) {
        grid->removeWidget(widget);
        return widget;
    };
    auto line = [](std::initializer_list<QWidget*> widgets) {
        auto* box = new QHBoxLayout;
        box->setContentsMargins(0, 0, 0, 0);
        for (QWidget* widget : widgets) box->addWidget(widget);
        box->addStretch(1);
        return box;
    };
    // The port rows move one line down for the IP modes.
    const struct {
        QWidget* label;
        QWidget* check;
        int row;
    } ports[] = {{take(ui_->dstPortLabel), take(ui_->dstPortCB), 6},
                 {take(ui_->srcPortLabel), take(ui_->srcPortCB), 5}};
    QWidget* dstPort = take(ui_->dstPortTB);
    QWidget* srcPort = take(ui_->srcPortTB);
    for (const auto& port : ports) {
        grid->addWidget(port.label, port.row, 0);
        grid->addWidget(port.check, port.row, 3);
    }
    grid->addLayout(line({srcPort, take(ui_->portModeCB)}), 5, 2);
    grid->addWidget(dstPort, 6, 2);
    grid->addLayout(line({take(ui_->srcMacTB), take(ui_->macModeCB)}), 0, 2);
    grid->addLayout(line({take(ui_->ipVersionCB), take(ui_->ipModeCB)}), 4, 2);
}

SimpleFilterControl::~SimpleFilterControl() = default;

void SimpleFilterControl::setFilter(const NettlebeamApiPacketFilter& filter) {
    filter_ = filter;
    refreshControls();
    refreshTexts();
}

void SimpleFilterControl::refreshControls() {
    const uint16_t either = filter_.eitherDirection;
    showLayer({ui_->macModeCB,
               ui_->srcMACLabel,
               {ui_->dstMACLabel, ui_->dstMacCB, ui_->dstMacTB},
               "Source MAC",
               "MAC"},
              has(either, NETTLEBEAM_FILTER_EITHER_MAC));
    showLayer({ui_->ipModeCB,
               ui_->srcIPLabel,
               {ui_->dstIPLabel, ui_->dstIpCB, ui_->dstIpTB},
               "Source IP",
               "IP"},
              has(either, NETTLEBEAM_FILTER_EITHER_IP));
    showLayer({ui_->portModeCB,
               ui_->srcPortLabel,
               {ui_->dstPortLabel, ui_->dstPortCB, ui_->dstPortTB},
               "Source Port",
               "Port"},
              has(either, NETTLEBEAM_FILTER_EITHER_PORT));

    const std::pair<QCheckBox*, QLineEdit*> rows[] = {
        {ui_->dstMacCB, ui_->dstMacTB},   {ui_->srcMacCB, ui_->srcMacTB},
        {ui_->dstIpCB, ui_->dstIpTB},     {ui_->srcIpCB, ui_->srcIpTB},
        {ui_->dstPortCB, ui_->dstPortTB}, {ui_->srcPortCB, ui_->srcPortTB}};
    uint32_t flag = NETTLEBEAM_FILTER_DST_MAC;
    for (const auto& [box, edit] : rows) {
        const bool used = has(filter_.fieldFlags, flag);
        setChecked(box, used);
        edit->setEnabled(used);
        flag <<= 1;
    }
}

void SimpleFilterControl::refreshTexts() {
    setIndex(ui_->ipVersionCB, records::filterIsIpv6(filter_) ? 1 : 0);
    for (const auto& [edit, field] :
         {std::pair{ui_->dstIpTB, Field::DstIp}, std::pair{ui_->srcIpTB, Field::SrcIp}}) {
        edit->setText(QString::fromStdString(records::filterAddressText(filter_, field)));
    }
    for (const auto& [edit, field] :
         {std::pair{ui_->dstMacTB, Field::DstMac}, std::pair{ui_->srcMacTB, Field::SrcMac}}) {
        edit->setText(QString::fromStdString(records::filterMacText(filter_, field)));
    }
    ui_->dstPortTB->setText(QString::number(filter_.dstPort));
    ui_->srcPortTB->setText(QString::number(filter_.srcPort));
}

int SimpleFilterControl::fillFilter(NettlebeamApiPacketFilter* filter) {
    if (filter == nullptr) return -1;
    for (QLineEdit* edit : {ui_->srcMacTB, ui_->dstMacTB, ui_->srcIpTB, ui_->dstIpTB,
                            ui_->srcPortTB, ui_->dstPortTB}) {
        edit->setStyleSheet(kNormalStyle);
    }
    *filter = NettlebeamApiPacketFilter{};
    const uint32_t used = filter_.fieldFlags;
    filter->fieldFlags = used;
    uint16_t either = 0;
    if (ui_->macModeCB->currentIndex() == 1) either |= NETTLEBEAM_FILTER_EITHER_MAC;
    if (ui_->ipModeCB->currentIndex() == 1) either |= NETTLEBEAM_FILTER_EITHER_IP;
    if (ui_->portModeCB->currentIndex() == 1) either |= NETTLEBEAM_FILTER_EITHER_PORT;
    filter->eitherDirection = either;

    // Every check runs, so that all faulty fields are marked at once.
    bool valid = true;
    // A layer matching either direction uses only its source row.
    const auto uses = [filter](Field field) { return records::filterUsesField(*filter, field); };
    if (uses(Field::DstIp)) valid &= fillIp(ui_->dstIpTB, Field::DstIp, filter);
    if (uses(Field::SrcIp)) valid &= fillIp(ui_->srcIpTB, Field::SrcIp, filter);
    if (uses(Field::DstMac)) valid &= fillMac(ui_->dstMacTB, Field::DstMac, filter);
    if (uses(Field::SrcMac)) valid &= fillMac(ui_->srcMacTB, Field::SrcMac, filter);
    if (uses(Field::SrcPort)) valid &= fillPort(ui_->srcPortTB, Field::SrcPort, filter);
    if (uses(Field::DstPort)) valid &= fillPort(ui_->dstPortTB, Field::DstPort, filter);
    return valid ? 0 : -1;
}

// The record passed in already carries the panel's IP version.
bool SimpleFilterControl::fillIp(QLineEdit* edit, Field field,
                                 NettlebeamApiPacketFilter* filter) const {
    if (records::storeAddressText(*filter, field, edit->text().toStdString())) return true;
    edit->setStyleSheet(kInvalidStyle);
    return false;
}

bool SimpleFilterControl::fillMac(QLineEdit* edit, Field field,
                                  NettlebeamApiPacketFilter* filter) const {
    if (records::storeMacText(*filter, field, edit->text().toStdString())) return true;
    edit->setStyleSheet(kInvalidStyle);
    return false;
}

bool SimpleFilterControl::fillPort(QLineEdit* edit, Field field,
                                   NettlebeamApiPacketFilter* filter) const {
    // Qt's idea of white space, which the parser (ASCII only) does not have.
    const std::optional<uint16_t> port = records::parsePort(edit->text().trimmed().toStdString());
    if (!port) {
        edit->setStyleSheet(kInvalidStyle);
        return false;
    }
    records::storePort(*filter, field, *port);
    return true;
}

void SimpleFilterControl::setFieldFlag(uint32_t flag, bool on) {
    filter_.fieldFlags = on ? (filter_.fieldFlags | flag) : (filter_.fieldFlags & ~flag);
    refreshControls();
}

void SimpleFilterControl::setEitherFlag(uint16_t flag, bool on) {
    filter_.eitherDirection = static_cast<uint16_t>(on ? (filter_.eitherDirection | flag)
                                                       : (filter_.eitherDirection & ~flag));
    refreshControls();
}

void SimpleFilterControl::on_srcMacCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_SRC_MAC, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_dstMacCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_DST_MAC, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_srcIpCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_SRC_IP, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_dstIpCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_DST_IP, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_srcPortCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_SRC_PORT, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_dstPortCB_stateChanged(int arg1) {
    setFieldFlag(NETTLEBEAM_FILTER_DST_PORT, arg1 == Qt::Checked);
}
void SimpleFilterControl::on_ipVersionCB_currentIndexChanged(int index) {
    setFieldFlag(NETTLEBEAM_FILTER_IPV6, index != 0);
}
void SimpleFilterControl::on_macModeCB_currentIndexChanged(int index) {
    setEitherFlag(NETTLEBEAM_FILTER_EITHER_MAC, index != 0);
}
void SimpleFilterControl::on_ipModeCB_currentIndexChanged(int index) {
    setEitherFlag(NETTLEBEAM_FILTER_EITHER_IP, index != 0);
}
void SimpleFilterControl::on_portModeCB_currentIndexChanged(int index) {
    setEitherFlag(NETTLEBEAM_FILTER_EITHER_PORT, index != 0);
}
