// nettlebeam-exporter: the attached devices in the Prometheus text format.
#include <NettlebeamAPI.h>
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "driver_probe.h"
#include "http_server.h"
#include "options.h"
#include "scrape_coordinator.h"

using namespace nettlebeam::exporter;

namespace {

// Blocks the termination signals in every thread and waits for one here.
int waitForTermination(const sigset_t& signals) {
    int signal = 0;
    sigwait(&signals, &signal);
    return signal;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    std::optional<Options> options =
        parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "nettlebeam-exporter: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    if (options->help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Before any thread starts, so every thread inherits the mask. A client
    // that hangs up mid-answer must not end the program either.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    try {
        if (NettlebeamAPIInitialize() != 0) {
            std::fputs("nettlebeam-exporter: the device library did not start\n", stderr);
            return 1;
        }
        std::string control = controlSocketPath();
        ScrapeCoordinator coordinator({options->devices, options->scrapeTimeout},
                                      [control] { return driverAnswers(control); });
        HttpServer server(options->listen, [&coordinator] { return coordinator.scrape(); });
        std::printf("nettlebeam-exporter: listening on port %u\n", server.port());
        std::fflush(stdout);
        waitForTermination(signals);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nettlebeam-exporter: %s\n", e.what());
        NettlebeamAPIUninitialize();
        return 1;
    }
    NettlebeamAPIUninitialize();
    return 0;
}
