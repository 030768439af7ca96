// Test support: a private nettlebeamd per test, and running programs.
//
// Every test that talks to a driver starts its own `nettlebeamd serve --fleet
// empty` on a fresh temporary control path, so tests can run in parallel.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace nettlebeam::testsupport {

// Whether this program is built with AddressSanitizer. Its quarantine holds
// freed blocks back (up to 256 MiB) before they are reused, so resident
// memory grows with churn that a plain build gives back at once.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif
// What the AddressSanitizer's quarantine may hold, in KiB.
inline constexpr long kQuarantineKiB = kAddressSanitizer ? 256 * 1024 : 0;
// Whether this program is built with ThreadSanitizer, whose shadow memory
// is counted in a process's resident memory.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

struct ProcessResult {
    int exitStatus = -1;  // the exit code, or 128 + signal number
    std::string out;      // standard output
    std::string err;      // standard error
    bool timedOut = false;
};

// Runs argv[0] with the arguments, with `extraEnv` ("NAME=value") added to the
// environment, and waits for it (killed after `timeout`).
ProcessResult runProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30),
                         const std::vector<std::string>& extraEnv = {});

class Daemon {
  public:
    // Starts `nettlebeamd serve --fleet empty --state-dir <tmp>/state` plus
    // `extraServeArgs` on <tmp>/KV7Control and waits until it accepts requests;
    // a `descriptorLimit` other than 0 is its RLIMIT_NOFILE (as `ulimit -n`).
    // Throws std::runtime_error when it does not come up.
    explicit Daemon(const std::vector<std::string>& extraServeArgs = {},
                    unsigned long descriptorLimit = 0);
    ~Daemon();  // stops the daemon and removes its temporary folder
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    const std::string& controlPath() const { return controlPath_; }
    const std::string& folder() const { return folder_; }
    // The daemon's process, for tests that stop it or read its memory; -1
    // when stopped.
    int pid() const { return pid_; }
    std::string stateDirectory() const { return folder_ + "/state"; }
    // Sets NETTLEBEAM_CONTROL in this process so the library talks to this daemon.
    void exportControlPath() const;
    // The environment entry for child processes: "NETTLEBEAM_CONTROL=<path>".
    std::string controlEnv() const;

    // `nettlebeamd <args> --control <path>`.
    ProcessResult run(const std::vector<std::string>& args) const;
    // `nettlebeamd attach <args>`: the handle it printed. Throws on failure.
    int attach(const std::vector<std::string>& args) const;
    void detach(int handle) const;                            // throws on failure
    void inject(const std::vector<std::string>& args) const;  // throws on failure
    void event(const std::vector<std::string>& args) const;   // throws on failure

    // Stops the daemon early (SIGTERM and wait); the destructor then only cleans up.
    void stop();
    // Kills it with SIGKILL, as a crash would: nothing is closed or removed.
    void crash();
    // Starts it again on the same control path and state folder.
    void restart();

    // The program built beside the tests, or NETTLEBEAM_TEST_DAEMON when set:
    // a test that runs the daemon as another user points it at a copy that
    // user can reach.
    static std::string binaryPath();

  private:
    void start();
    std::vector<std::string> serveArgs_;
    unsigned long descriptorLimit_ = 0;
    std::string folder_;
    std::string controlPath_;
    int pid_ = -1;
};

}  // namespace nettlebeam::testsupport
