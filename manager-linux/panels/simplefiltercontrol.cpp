#include "simplefiltercontrol.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QSignalBlocker>

#include "addresstext.h"
#include "packetfilterfields.h"
#include "qipvalidator.h"
#include "qmacvalidator.h"
#include "textfit.h"
#include "ui_simplefiltercontrol.h"

using PacketFilterFields::Field;

namespace {

constexpr int kMacBytes = 6;
constexpr int kMacTextLength = 17;  // "aa:bb:cc:dd:ee:ff"
const QString kInvalidStyle = QStringLiteral("color: red");
const QString kNormalStyle = QStringLiteral("QLabel { }");

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

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

QString macText(const QByteArray& bytes, const QByteArray& mask) {
    QStringList groups;
    for (int i = 0; i < bytes.size(); ++i) {
        groups << (static_cast<uint8_t>(mask[i]) == 0xFF
                       ? QStringLiteral("%1").arg(static_cast<uint8_t>(bytes[i]), 2, 16,
                                                  QLatin1Char('0'))
                       : QStringLiteral("**"));
    }
    return groups.join(u':');
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
    const bool ipv6 = has(filter_.fieldFlags, NETTLEBEAM_FILTER_IPV6);
    setIndex(ui_->ipVersionCB, ipv6 ? 1 : 0);
    const int ipBytes = ipv6 ? 16 : 4;
    for (const auto& [edit, field] :
         {std::pair{ui_->dstIpTB, Field::DstIp}, std::pair{ui_->srcIpTB, Field::SrcIp}}) {
        const QHostAddress address =
            addressFromBytes(PacketFilterFields::loadBytes(filter_, field, ipBytes));
        const QHostAddress mask =
            addressFromBytes(PacketFilterFields::loadMask(filter_, field, ipBytes));
        edit->setText(formatWildcardAddress(address, mask).value_or(QString()));
    }
    for (const auto& [edit, field] :
         {std::pair{ui_->dstMacTB, Field::DstMac}, std::pair{ui_->srcMacTB, Field::SrcMac}}) {
        edit->setText(macText(PacketFilterFields::loadBytes(filter_, field, kMacBytes),
                              PacketFilterFields::loadMask(filter_, field, kMacBytes)));
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
    if (has(used, NETTLEBEAM_FILTER_DST_IP) && !has(either, NETTLEBEAM_FILTER_EITHER_IP))
        valid &= fillIp(ui_->dstIpTB, Field::DstIp, filter);
    if (has(used, NETTLEBEAM_FILTER_SRC_IP)) valid &= fillIp(ui_->srcIpTB, Field::SrcIp, filter);
    if (has(used, NETTLEBEAM_FILTER_DST_MAC) && !has(either, NETTLEBEAM_FILTER_EITHER_MAC))
        valid &= fillMac(ui_->dstMacTB, Field::DstMac, filter);
    if (has(used, NETTLEBEAM_FILTER_SRC_MAC))
        valid &= fillMac(ui_->srcMacTB, Field::SrcMac, filter);
    if (has(used, NETTLEBEAM_FILTER_SRC_PORT))
        valid &= fillPort(ui_->srcPortTB, Field::SrcPort, filter);
    if (has(used, NETTLEBEAM_FILTER_DST_PORT) && !has(either, NETTLEBEAM_FILTER_EITHER_PORT))
        valid &= fillPort(ui_->dstPortTB, Field::DstPort, filter);
    return valid ? 0 : -1;
}

bool SimpleFilterControl::fillIp(QLineEdit* edit, int field,
                                 NettlebeamApiPacketFilter* filter) const {
    const std::optional<WildcardAddress> parsed = has(filter_.fieldFlags, NETTLEBEAM_FILTER_IPV6)
                                                      ? parseIpv6Wildcards(edit->text())
                                                      : parseIpv4Wildcards(edit->text());
    if (!parsed) {
        edit->setStyleSheet(kInvalidStyle);
        return false;
    }
    PacketFilterFields::storeBytes(*filter, static_cast<Field>(field),
                                   addressBytes(parsed->address), addressBytes(parsed->mask));
    return true;
}

bool SimpleFilterControl::fillMac(QLineEdit* edit, int field,
                                  NettlebeamApiPacketFilter* filter) const {
    const QString text = edit->text();
    QByteArray bytes(kMacBytes, '\0');
    QByteArray mask(kMacBytes, '\0');
    bool valid = text.size() == kMacTextLength;
    for (int i = 0; valid && i < kMacBytes; ++i) {
        const QString group = text.mid(3 * i, 2);
        if (i > 0 && text.at(3 * i - 1) != u':') valid = false;
        if (group == QStringLiteral("**")) continue;
        bool converted = false;
        const uint value = group.toUInt(&converted, 16);
        valid &=
            group.size() == 2 && isHexDigit(group.at(0)) && isHexDigit(group.at(1)) && converted;
        bytes[i] = static_cast<char>(value);
        mask[i] = static_cast<char>(0xFF);
    }
    if (!valid) {
        edit->setStyleSheet(kInvalidStyle);
        return false;
    }
    PacketFilterFields::storeBytes(*filter, static_cast<Field>(field), bytes, mask);
    return true;
}

bool SimpleFilterControl::fillPort(QLineEdit* edit, int field,
                                   NettlebeamApiPacketFilter* filter) const {
    bool converted = false;
    // Decimal, as the validator and the IPv4 parts are: "010" is port 10.
    const uint port = edit->text().toUInt(&converted, 10);
    if (!converted || port >= 0x10000) {
        edit->setStyleSheet(kInvalidStyle);
        return false;
    }
    PacketFilterFields::storePort(*filter, static_cast<Field>(field), static_cast<uint16_t>(port));
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
