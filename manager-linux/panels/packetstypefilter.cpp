#include "packetstypefilter.h"

#include <QCheckBox>
#include <QSignalBlocker>

#include "ui_packetstypefilter.h"

PacketsTypeFilter::PacketsTypeFilter(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::PacketsTypeFilter>()) {
    ui_->setupUi(this);
    // In the order of the record's bytes.
    boxes_ = {ui_->isIPv4,         ui_->isIPv6,         ui_->isARP,          ui_->isTCP,
              ui_->isUDP,          ui_->isICMP,         ui_->isIGMP,         ui_->isHTTPS,
              ui_->isHTTP,         ui_->isFTP,          ui_->isDNS,          ui_->isSMTP,
              ui_->isPOP3,         ui_->isDHCP,         ui_->isSSH,          ui_->isSIP,
              ui_->isSMB,          ui_->isTCPFlags_FIN, ui_->isTCPFlags_SYN, ui_->isTCPFlags_RST,
              ui_->isTCPFlags_PSH, ui_->isTCPFlags_ACK, ui_->isZeroWindow,   ui_->isQUIC,
              ui_->isL2Other,      ui_->isL4Other};
    for (QCheckBox* box : findChildren<QCheckBox*>())
        connect(box, &QCheckBox::stateChanged, this, &PacketsTypeFilter::controlChanged);
}

PacketsTypeFilter::~PacketsTypeFilter() = default;

void PacketsTypeFilter::setFilter(const NettlebeamApiPacketsTypeFilter& filter) {
    for (int i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i) {
        const QSignalBlocker blocker(boxes_[i]);
        boxes_[i]->setCheckState(filter.flags[i] != 0 ? Qt::Checked : Qt::Unchecked);
    }
}

void PacketsTypeFilter::getFilter(NettlebeamApiPacketsTypeFilter* filter) const {
    if (filter == nullptr) return;
    for (int i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i)
        filter->flags[i] = boxes_[i]->checkState() == Qt::Checked ? 1 : 0;
}

void PacketsTypeFilter::controlChanged(int /*state*/) {
    emit changed();
}
