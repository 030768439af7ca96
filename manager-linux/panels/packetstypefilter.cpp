#include "packetstypefilter.h"

PacketsTypeFilter::PacketsTypeFilter(QWidget* parent) : QWidget(parent) {}

void PacketsTypeFilter::setFilter(const NettlebeamApiPacketsTypeFilter& filter) {
    for (int i = 0; i < NETTLEBEAM_PACKET_TYPE_CLASSES; ++i)
        filter_.flags[i] = filter.flags[i] != 0;
}

void PacketsTypeFilter::getFilter(NettlebeamApiPacketsTypeFilter* filter) const {
    if (filter != nullptr) *filter = filter_;
}
