#include "family_set.h"

namespace nettlebeam::exporter {

MetricFamily& FamilySet::family(const std::string& name, const std::string& help, MetricType type) {
    auto [it, inserted] = index_.try_emplace(name, families_.size());
    if (inserted) families_.push_back(MetricFamily{name, help, type, {}});
    return families_[it->second];
}

void FamilySet::merge(const FamilySet& other) {
    for (const MetricFamily& source : other.families_) {
        MetricFamily& target = family(source.name, source.help, source.type);
        target.samples.insert(target.samples.end(), source.samples.begin(), source.samples.end());
    }
}

}  // namespace nettlebeam::exporter
