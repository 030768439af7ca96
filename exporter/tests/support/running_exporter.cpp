#include "running_exporter.h"

#include <stdexcept>

#include "http_client.h"

namespace nettlebeam::exporter::testing {

RunningExporter::RunningExporter(const testsupport::Daemon& daemon,
                                 const std::vector<std::string>& args) {
    std::vector<std::string> argv{NETTLEBEAM_EXPORTER_PATH, "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<ChildProcess>(argv, std::vector<std::string>{daemon.controlEnv()},
                                              daemon.folder() + "/exporter.log");
    const std::string prefix = "nettlebeam-exporter: listening on port ";
    std::string line = process_->readLine();
    if (line.rfind(prefix, 0) != 0)
        throw std::runtime_error("the exporter did not start: '" + line + "'");
    port_ = static_cast<unsigned>(std::stoul(line.substr(prefix.size())));
}

std::string RunningExporter::scrape() const {
    HttpReply reply = get(port_, "/metrics");
    return reply.status == 200 ? reply.body : std::string();
}

}  // namespace nettlebeam::exporter::testing
