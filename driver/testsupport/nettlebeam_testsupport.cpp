#include "nettlebeam_testsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "client.h"

extern char** environ;

namespace nettlebeam::testsupport {

namespace {

using Clock = std::chrono::steady_clock;

// The daemon's own request that lists devices: it answers as soon as the
// daemon serves, and unlike an enumeration it opens no event queue for the
// test process.
constexpr uint32_t kDevicesRequest = 0x4E420003;

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string current = *entry;
        std::string name = current.substr(0, current.find('='));
        bool replaced = false;
        for (const std::string& e : extra)
            if (e.substr(0, e.find('=')) == name) replaced = true;
        if (!replaced) env.push_back(current);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// fork + exec with the given standard output and error, and with
// `descriptorLimit` (when not 0) as the child's RLIMIT_NOFILE; -1 when fork
// fails.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            int outFd, int errFd, unsigned long descriptorLimit = 0) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = environmentWith(extraEnv);
    auto argPointers = pointers(args);
    auto envPointers = pointers(env);
    pid_t pid = fork();
    if (pid != 0) return pid;
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
    if (errFd >= 0) dup2(errFd, STDERR_FILENO);
    rlimit limit{};
    if (descriptorLimit != 0 && getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = descriptorLimit;
        limit.rlim_max = std::max<rlim_t>(limit.rlim_max, descriptorLimit);
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    }
    execve(argPointers[0], argPointers.data(), envPointers.data());
    const char message[] = "cannot run the program\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof(message) - 1);
    (void)ignored;
    _exit(127);
}

void drain(int& fd, std::string& into) {
    char buffer[65536];
    ssize_t got = read(fd, buffer, sizeof(buffer));
    if (got > 0) {
        into.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& extraEnv) {
    ProcessResult result;
    if (argv.empty()) return result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    pid_t pid = spawn(argv, extraEnv, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    int fds[2] = {outPipe[0], errPipe[0]};
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    auto deadline = Clock::now() + timeout;
    int waitStatus = 0;
    bool exited = false;
    while (!exited) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &waitStatus, 0);
            break;
        }
        pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        // Wake regularly: a daemonised grandchild may keep the pipes open.
        poll(polled, 2, static_cast<int>(std::min<long>(left.count(), 20)));
        if (fds[0] >= 0 && polled[0].revents) drain(fds[0], result.out);
        if (fds[1] >= 0 && polled[1].revents) drain(fds[1], result.err);
        exited = waitpid(pid, &waitStatus, WNOHANG) == pid;
    }
    // Collect what the program wrote before it ended.
    for (int i = 0; i < 2; ++i) {
        if (fds[i] < 0) continue;
        fcntl(fds[i], F_SETFL, O_NONBLOCK);
        while (fds[i] >= 0) {
            std::string& into = i == 0 ? result.out : result.err;
            char buffer[65536];
            ssize_t got = read(fds[i], buffer, sizeof(buffer));
            if (got > 0) {
                into.append(buffer, static_cast<size_t>(got));
                continue;
            }
            close(fds[i]);
            fds[i] = -1;
        }
    }
    result.exitStatus = statusOf(waitStatus);
    return result;
}

std::string Daemon::binaryPath() {
    if (const char* copy = std::getenv("NETTLEBEAM_TEST_DAEMON"); copy != nullptr && *copy != 0)
        return copy;
    return NETTLEBEAMD_PATH;
}

Daemon::Daemon(const std::vector<std::string>& extraServeArgs, unsigned long descriptorLimit)
    : serveArgs_(extraServeArgs), descriptorLimit_(descriptorLimit) {
    char folderTemplate[] = "/tmp/nbtest.XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr)
        throw std::runtime_error(std::string("cannot create a test folder: ") +
                                 std::strerror(errno));
    folder_ = folderTemplate;
    controlPath_ = folder_ + "/KV7Control";
    try {
        start();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw;
    }
}

Daemon::~Daemon() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void Daemon::start() {
    std::vector<std::string> argv = {binaryPath(),  "serve",          "--fleet",   "empty",
                                     "--state-dir", stateDirectory(), "--control", controlPath_};
    argv.insert(argv.end(), serveArgs_.begin(), serveArgs_.end());
    // The daemon's log goes to a file in the test folder, for diagnosis.
    int log = open((folder_ + "/nettlebeamd.log").c_str(),
                   O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = spawn(argv, {}, log, log, descriptorLimit_);
    if (log >= 0) close(log);
    if (pid_ < 0) throw std::runtime_error("cannot start nettlebeamd");
    auto deadline = Clock::now() + std::chrono::seconds(10);
    std::vector<uint8_t> scratch(4096);
    while (Clock::now() < deadline) {
        if (wire::transact(controlPath_, kDevicesRequest, nullptr, 0, scratch.data(),
                           static_cast<uint32_t>(scratch.size())) >= 0)
            return;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("nettlebeamd exited at start (exit status " +
                                     std::to_string(statusOf(status)) + "), see " + folder_ +
                                     "/nettlebeamd.log");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    throw std::runtime_error("nettlebeamd did not come up on " + controlPath_);
}

void Daemon::stop() {
    if (pid_ < 0) return;
    kill(pid_, SIGTERM);
    int status;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

void Daemon::crash() {
    if (pid_ < 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void Daemon::restart() {
    stop();
    start();
}

void Daemon::exportControlPath() const {
    setenv("NETTLEBEAM_CONTROL", controlPath_.c_str(), 1);
}

std::string Daemon::controlEnv() const {
    return "NETTLEBEAM_CONTROL=" + controlPath_;
}

ProcessResult Daemon::run(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {binaryPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--control");
    argv.push_back(controlPath_);
    return runProcess(argv);
}

namespace {
void require(const ProcessResult& result, const std::string& what) {
    if (result.exitStatus != 0)
        throw std::runtime_error("nettlebeamd " + what + " failed: " + result.err);
}
}  // namespace

int Daemon::attach(const std::vector<std::string>& args) const {
    std::vector<std::string> command = {"attach"};
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = run(command);
    require(result, "attach");
    try {
        return std::stoi(result.out);
    } catch (const std::exception&) {
        throw std::runtime_error("nettlebeamd attach printed no handle: " + result.out);
    }
}

void Daemon::detach(int handle) const {
    require(run({"detach", std::to_string(handle)}), "detach");
}

void Daemon::inject(const std::vector<std::string>& args) const {
    std::vector<std::string> command = {"inject"};
    command.insert(command.end(), args.begin(), args.end());
    require(run(command), "inject");
}

void Daemon::event(const std::vector<std::string>& args) const {
    std::vector<std::string> command = {"event"};
    command.insert(command.end(), args.begin(), args.end());
    require(run(command), "event");
}

}  // namespace nettlebeam::testsupport
