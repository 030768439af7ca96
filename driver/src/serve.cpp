#include "serve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control_folders.h"
#include "fleet.h"
#include "log.h"
#include "netif/tc_redirect.h"
#include "server.h"
#include "text_parse.h"

namespace nettlebeam::driver {

namespace {

struct ServeSettings {
    std::string fleet = "empty";
    std::string stateDirectory;
    bool daemon = false;
    size_t eventQueueLimit = 1024;
};

bool parseServeArgs(const std::vector<std::string>& args, ServeSettings& settings,
                    std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--daemon") {
            settings.daemon = true;
            continue;
        }
        if (word != "--fleet" && word != "--state-dir" && word != "--event-queue-limit") {
            error = "serve does not take '" + word + "'";
            return false;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = "option " + word + " needs a value";
            return false;
        }
        if (word == "--event-queue-limit") {
            auto limit = parseUnsigned(args[++i], 1000000);
            if (!limit || *limit == 0) {
                error = "--event-queue-limit wants a number from 1 to 1000000";
                return false;
            }
            settings.eventQueueLimit = static_cast<size_t>(*limit);
            continue;
        }
        (word == "--fleet" ? settings.fleet : settings.stateDirectory) = args[++i];
    }
    return true;
}

std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return path;
    return std::string(cwd) + "/" + path;
}

// Creates the state folder when missing, checks it as the control folder
// is checked, and proves it can be written with a file of a name nobody
// can guess (and so plant a link under).
bool prepareStateDirectory(const std::string& folder, std::string& error) {
    if (!prepareStateFolder(folder, error)) return false;
    std::string probe = folder + "/.write-test.XXXXXX";
    int fd = mkostemp(probe.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = "the state folder " + folder + " cannot be written: " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

// Detaches from the terminal once the socket is ready. The log stays where it
// was only when it goes to a file: an inherited pipe would keep its reader
// waiting for the daemon's end.
bool detach(std::string& error) {
    struct stat info {};
    bool keepLog = fstat(STDERR_FILENO, &info) == 0 && S_ISREG(info.st_mode);
    if (daemon(0, 1) != 0) {
        error = std::string("cannot detach: ") + std::strerror(errno);
        return false;
    }
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        if (!keepLog) dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO) close(null);
    }
    return true;
}

int refuse(const std::string& message) {
    std::fprintf(stderr, "nettlebeamd: %s\n", message.c_str());
    return 1;
}

}  // namespace

int serveCommand(const wire::ControlLayout& control, const std::vector<std::string>& args) {
    ServeSettings settings;
    std::string error;
    if (!parseServeArgs(args, settings, error)) return refuse(error);
    auto fleet = loadFleet(settings.fleet);
    if (auto* fleetError = std::get_if<std::string>(&fleet)) return refuse(*fleetError);

    ServerOptions options;
    options.controlPath = absolute(control.socket);
    options.privateFolder = control.privateFolder;
    options.stateDirectory = absolute(settings.stateDirectory);
    options.eventQueueBound = settings.eventQueueLimit;
    if (!options.stateDirectory.empty() && !prepareStateDirectory(options.stateDirectory, error))
        return refuse(error);

    Server server(options);
    if (!server.listen(error)) return refuse(error);
    if (settings.daemon && !detach(error)) return refuse(error);
    if (!server.prepareLoop(error)) return refuse(error);
    // Redirects left by a daemon that was killed kept its inline devices'
    // links passing traffic; now they would only bypass the next one.
    std::string removed = netif::removeStaleRedirects();
    for (size_t end; (end = removed.find('\n')) != std::string::npos; removed.erase(0, end + 1))
        logLine(removed.substr(0, end));
    for (const DeviceSpec& device : std::get<Fleet>(fleet)) server.attach(device);
    server.run();
    return 0;
}

}  // namespace nettlebeam::driver
