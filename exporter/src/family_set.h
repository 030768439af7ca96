// The families of one scrape, in the order they were first used, so that the
// samples of every device land in the same family.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "exposition.h"

namespace nettlebeam::exporter {

class FamilySet {
  public:
    // The family `name`, created with `help` and `type` on first use.
    MetricFamily& family(const std::string& name, const std::string& help, MetricType type);
    // Appends the samples of `other`, family by family.
    void merge(const FamilySet& other);
    const std::vector<MetricFamily>& families() const { return families_; }

  private:
    std::vector<MetricFamily> families_;
    std::map<std::string, size_t> index_;
};

}  // namespace nettlebeam::exporter
