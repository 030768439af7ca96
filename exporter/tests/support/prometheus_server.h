// A real Prometheus server with its own storage, scraping one exporter every
// second and evaluating a rules file, queried over its HTTP API.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace nettlebeam::exporter::testing {

struct QueryResult {
    std::map<std::string, std::string> labels;
    double value = 0;
};

class PrometheusServer {
  public:
    // Starts it in `folder` and waits until it is ready; throws when it
    // does not come up.
    PrometheusServer(const std::string& folder, unsigned exporterPort,
                     const std::string& rulesFile = "");
    // An instant query; empty when nothing matches or the query failed.
    std::vector<QueryResult> query(const std::string& expression) const;

  private:
    std::unique_ptr<ChildProcess> process_;
    unsigned port_ = 0;
};

}  // namespace nettlebeam::exporter::testing
