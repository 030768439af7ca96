#include "counterv2editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cstring>

#include "countertext.h"
#include "qipvalidator.h"

namespace {

void setChecked(QCheckBox* box, int32_t triState) {
    box->setCheckState(CounterText::checkStateOf(triState));
}

int32_t triStateOf(const QCheckBox* box) {
    return CounterText::triStateOf(box->checkState());
}

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

CounterV2Editor::CounterV2Editor(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CounterV2Editor"));
    setWindowTitle(QStringLiteral("Dialog"));
    resize(419, 315);
    buildForm();
    connect(buttonBox_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QMetaObject::connectSlotsByName(this);
}

QCheckBox* CounterV2Editor::triStateBox(const char* name, const QString& text) {
    auto* box = new QCheckBox(text, this);
    box->setObjectName(QString::fromLatin1(name));
    box->setTristate(true);
    return box;
}

void CounterV2Editor::buildForm() {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);

    auto* addresses = new QGridLayout;
    ipv4CB_ = triStateBox("ipv4CB", QStringLiteral("IPv4"));
    ipv4TB_ = new QLineEdit(QStringLiteral("*.*.*.*"), this);
    ipv4TB_->setObjectName(QStringLiteral("ipv4TB"));
    ipv4TB_->setValidator(new QIpValidator(ipv4TB_, true, false));
    ipv6CB_ = triStateBox("ipv6CB", QStringLiteral("IPv6"));
    ipv6TB_ = new QLineEdit(QStringLiteral("****:****:****:****:****:****:****:****"), this);
    ipv6TB_->setObjectName(QStringLiteral("ipv6TB"));
    ipv6TB_->setValidator(new QIpValidator(ipv6TB_, false, true));
    addresses->addWidget(ipv4CB_, 0, 0);
    addresses->addWidget(ipv4TB_, 0, 1);
    addresses->addWidget(ipv6CB_, 1, 0);
    addresses->addWidget(ipv6TB_, 1, 1);
    layout->addLayout(addresses);

    auto* grid = new QGridLayout;
    grid->setObjectName(QStringLiteral("gridLayout_2"));
    bcastCB_ = triStateBox("bcastCB", QStringLiteral("Broadcast"));
    ucastCB_ = triStateBox("ucastCB", QStringLiteral("Unicast"));
    mcastCB_ = triStateBox("mcastCB", QStringLiteral("Multicast"));
    icmpCB_ = triStateBox("icmpCB", QStringLiteral("ICMP"));
    udpCB_ = triStateBox("udpCB", QStringLiteral("UDP"));
    tcpCB_ = triStateBox("tcpCB", QStringLiteral("TCP"));
    crcCB_ = triStateBox("crcCB", QStringLiteral("CRC ok"));
    sizeCBox_ = new QComboBox(this);
    sizeCBox_->setObjectName(QStringLiteral("sizeCBox"));
    sizeCBox_->addItems({QStringLiteral("Don't care"), QStringLiteral("Greater than"),
                         QStringLiteral("Less than"), QStringLiteral("Equal")});
    sizeTB_ = new QLineEdit(this);
    sizeTB_->setObjectName(QStringLiteral("sizeTB"));
    port1CB_ = new QCheckBox(QStringLiteral("Port A"), this);
    port1CB_->setObjectName(QStringLiteral("port1CB"));
    port2CB_ = new QCheckBox(QStringLiteral("Port B"), this);
    port2CB_->setObjectName(QStringLiteral("port2CB"));
    modeCBox_ = new QComboBox(this);
    modeCBox_->setObjectName(QStringLiteral("modeCBox"));
    modeCBox_->addItems({QStringLiteral("Packets"), QStringLiteral("Bytes")});
    buttonBox_ =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
    buttonBox_->setObjectName(QStringLiteral("buttonBox"));

    grid->addWidget(namedLabel("label", QStringLiteral("Routing :"), this), 0, 0);
    grid->addWidget(bcastCB_, 0, 1);
    grid->addWidget(ucastCB_, 1, 1);
    grid->addWidget(mcastCB_, 2, 1);
    grid->addWidget(namedLabel("label_2", QStringLiteral("L4 protocol :"), this), 3, 0);
    grid->addWidget(icmpCB_, 3, 1);
    grid->addWidget(udpCB_, 4, 1);
    grid->addWidget(tcpCB_, 5, 1);
    grid->addWidget(crcCB_, 6, 1);
    grid->addWidget(namedLabel("label_3", QStringLiteral("Packet size"), this), 7, 0);
    grid->addWidget(sizeCBox_, 7, 1);
    grid->addWidget(sizeTB_, 7, 2);
    grid->addWidget(namedLabel("label_4", QStringLiteral("Enable on :"), this), 1, 2);
    grid->addWidget(port1CB_, 1, 3);
    grid->addWidget(port2CB_, 2, 3);
    grid->addWidget(namedLabel("label_5", QStringLiteral("Counting mode :"), this), 4, 2);
    grid->addWidget(modeCBox_, 4, 3);
    grid->addWidget(buttonBox_, 6, 3, 2, 1);
    layout->addLayout(grid);
}

void CounterV2Editor::setRecord(const NettlebeamApiCounterV2& record) {
    record_ = record;
    setWindowTitle(QStringLiteral("Edit Counter %1").arg(record.index));
    port1CB_->setChecked(record.port1 == 1);
    port2CB_->setChecked(record.port2 == 1);
    modeCBox_->setCurrentIndex(record.mode != 0 ? 1 : 0);
    setChecked(ipv4CB_, record.isIPv4);
    setChecked(ipv6CB_, record.isIPv6);
    setChecked(bcastCB_, record.isbcast);
    setChecked(ucastCB_, record.isucast);
    setChecked(mcastCB_, record.ismcast);
    setChecked(icmpCB_, record.isicmp);
    setChecked(udpCB_, record.isudp);
    setChecked(tcpCB_, record.istcp);
    setChecked(crcCB_, record.iscrcValid);

    // The check boxes' slots enabled the edits; only one version's address
    // is shown, and only when that version alone is required.
    const bool ipv4Only = record.isIPv4 == 1 && record.isIPv6 != 1;
    const bool ipv6Only = record.isIPv6 == 1 && record.isIPv4 != 1;
    ipv4TB_->setEnabled(ipv4Only);
    ipv4TB_->setText(ipv4Only ? CounterText::addressText(record) : QString());
    ipv6TB_->setEnabled(ipv6Only);
    ipv6TB_->setText(ipv6Only ? CounterText::addressText(record) : QString());

    const int sizeIndex = CounterText::sizeIndexOf(record.sizeMode);
    sizeCBox_->setCurrentIndex(sizeIndex);
    sizeTB_->setText(sizeIndex == 0 ? QStringLiteral("0") : QString::number(record.size));
    sizeTB_->setEnabled(sizeIndex != 0);
}

void CounterV2Editor::on_ipv4CB_stateChanged(int arg1) {
    if (arg1 != Qt::Checked) {
        ipv4TB_->setEnabled(false);
        ipv6TB_->setEnabled(ipv6CB_->checkState() == Qt::Checked);
    } else if (ipv6CB_->checkState() == Qt::Checked) {
        ipv4TB_->setEnabled(false);
        ipv6TB_->setEnabled(false);
    } else {
        ipv4TB_->setEnabled(true);
    }
}

void CounterV2Editor::on_ipv6CB_stateChanged(int arg1) {
    if (arg1 != Qt::Checked) {
        ipv6TB_->setEnabled(false);
        ipv4TB_->setEnabled(ipv4CB_->checkState() == Qt::Checked);
    } else if (ipv4CB_->checkState() == Qt::Checked) {
        ipv4TB_->setEnabled(false);
        ipv6TB_->setEnabled(false);
    } else {
        ipv6TB_->setEnabled(true);
    }
}

void CounterV2Editor::on_sizeCBox_currentIndexChanged(int index) {
    sizeTB_->setEnabled(index != 0);
}

void CounterV2Editor::on_buttonBox_accepted() {
    fillRecord();
    done(QDialog::Accepted);
}

void CounterV2Editor::on_buttonBox_rejected() {}

void CounterV2Editor::fillRecord() {
    record_.port1 = port1CB_->isChecked() ? 1 : 0;
    record_.port2 = port2CB_->isChecked() ? 1 : 0;
    record_.mode = modeCBox_->currentIndex() != 0 ? 1 : 0;
    record_.isIPv4 = triStateOf(ipv4CB_);
    record_.isIPv6 = triStateOf(ipv6CB_);
    record_.isbcast = triStateOf(bcastCB_);
    record_.isucast = triStateOf(ucastCB_);
    record_.ismcast = triStateOf(mcastCB_);
    record_.isicmp = triStateOf(icmpCB_);
    record_.isudp = triStateOf(udpCB_);
    record_.istcp = triStateOf(tcpCB_);
    record_.iscrcValid = triStateOf(crcCB_);
    readAddress();
    record_.sizeMode = CounterText::sizeModeOf(sizeCBox_->currentIndex());
    // A size that does not convert is 0, as is any size when it is not tested.
    record_.size =
        record_.sizeMode == -1 ? 0 : static_cast<int32_t>(sizeTB_->text().toUInt(nullptr, 10));
}

// An address that does not parse leaves address and mask zero; the
// definition is still accepted.
void CounterV2Editor::readAddress() {
    std::memset(record_.ip, 0, sizeof record_.ip);
    std::memset(record_.ipMask, 0, sizeof record_.ipMask);
    const bool ipv4 = ipv4CB_->checkState() == Qt::Checked;
    const bool ipv6 = ipv6CB_->checkState() == Qt::Checked;
    std::optional<WildcardAddress> parsed;
    if (ipv4 && !ipv6) parsed = parseIpv4Wildcards(ipv4TB_->text());
    if (ipv6 && !ipv4) parsed = parseIpv6Wildcards(ipv6TB_->text());
    if (parsed) CounterText::storeAddress(record_, *parsed);
}
