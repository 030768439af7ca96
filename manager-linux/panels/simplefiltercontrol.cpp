#include "simplefiltercontrol.h"

SimpleFilterControl::SimpleFilterControl(QWidget* parent) : QWidget(parent) {}

void SimpleFilterControl::setFilter(const NettlebeamApiPacketFilter& filter) {
    filter_ = filter;
}

int SimpleFilterControl::fillFilter(NettlebeamApiPacketFilter* filter) const {
    if (filter == nullptr) return -1;
    *filter = filter_;
    return 0;
}
