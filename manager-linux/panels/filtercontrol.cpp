#include "filtercontrol.h"

#include <algorithm>
#include <cstring>

FilterControl::FilterControl(QWidget* parent) : QWidget(parent) {}

bool FilterControl::setPattern(const NettlebeamApiDpiFilter& filter, int count) {
    std::memset(pattern_, 0, sizeof pattern_);
    std::memcpy(pattern_, filter.pattern,
                static_cast<size_t>(std::clamp(count, 0, kPatternLength)));
    careMask_ = static_cast<uint16_t>(filter.mask & 0xFFFFu);
    return true;
}

void FilterControl::fillPattern(NettlebeamApiDpiFilter* filter) const {
    if (filter == nullptr) return;
    std::memcpy(filter->pattern, pattern_, sizeof pattern_);
    filter->mask = careMask_;
}
