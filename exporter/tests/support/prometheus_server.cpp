#include "prometheus_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "http_client.h"
#include "running_exporter.h"

namespace nettlebeam::exporter::testing {
namespace {

std::string urlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// The labels of one "metric":{...} object: flat strings, no nesting.
std::map<std::string, std::string> parseLabels(const std::string& object) {
    std::map<std::string, std::string> labels;
    size_t at = 0;
    while ((at = object.find('"', at)) != std::string::npos) {
        size_t nameEnd = object.find('"', at + 1);
        size_t valueStart = object.find('"', nameEnd + 1);
        size_t valueEnd = object.find('"', valueStart + 1);
        if (nameEnd == std::string::npos || valueEnd == std::string::npos) break;
        labels[object.substr(at + 1, nameEnd - at - 1)] =
            object.substr(valueStart + 1, valueEnd - valueStart - 1);
        at = valueEnd + 1;
    }
    return labels;
}

}  // namespace

PrometheusServer::PrometheusServer(const std::string& folder, unsigned exporterPort,
                                   const std::string& rulesFile) {
    std::filesystem::create_directories(folder + "/data");
    {
        std::ofstream config(folder + "/prometheus.yml");
        config << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n";
        if (!rulesFile.empty()) config << "rule_files:\n  - " << rulesFile << "\n";
        config << "scrape_configs:\n  - job_name: nettlebeam\n    static_configs:\n"
               << "      - targets: ['127.0.0.1:" << exporterPort << "']\n";
    }
    // The port may be taken between the look and Prometheus's bind: try again.
    for (int attempt = 0; attempt < 5 && !process_; ++attempt) {
        port_ = freeLoopbackPort();
        auto process = std::make_unique<ChildProcess>(
            std::vector<std::string>{
                NETTLEBEAM_PROMETHEUS_PATH, "--config.file=" + folder + "/prometheus.yml",
                "--storage.tsdb.path=" + folder + "/data",
                "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"},
            std::vector<std::string>{}, folder + "/prometheus.log");
        if (waitUntil([&] { return get(port_, "/-/ready").status == 200; }, 60))
            process_ = std::move(process);
    }
    if (!process_) throw std::runtime_error("prometheus did not come up; see " + folder);
}

std::vector<QueryResult> PrometheusServer::query(const std::string& expression) const {
    std::vector<QueryResult> results;
    HttpReply reply = get(port_, "/api/v1/query?query=" + urlEncode(expression));
    if (reply.status != 200) return results;
    const std::string& body = reply.body;
    size_t at = 0;
    const std::string metricKey = "\"metric\":{";
    const std::string valueKey = "\"value\":[";
    while ((at = body.find(metricKey, at)) != std::string::npos) {
        size_t objectEnd = body.find('}', at);
        size_t value = body.find(valueKey, objectEnd);
        if (objectEnd == std::string::npos || value == std::string::npos) break;
        size_t quote = body.find('"', body.find(',', value));
        QueryResult result;
        result.labels =
            parseLabels(body.substr(at + metricKey.size(), objectEnd - at - metricKey.size()));
        result.value = std::strtod(body.c_str() + quote + 1, nullptr);
        results.push_back(std::move(result));
        at = objectEnd;
    }
    return results;
}

}  // namespace nettlebeam::exporter::testing
