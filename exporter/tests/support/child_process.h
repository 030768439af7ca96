// A program the tests start and stop: the exporter, Prometheus.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace nettlebeam::exporter::testing {

class ChildProcess {
  public:
    // Starts argv with `extraEnv` added; standard output to a pipe the test
    // reads with readLine, standard error to `errorFile`.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                 const std::string& errorFile);
    ~ChildProcess();  // SIGTERM, then SIGKILL after 10 s
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of its standard output; empty after 30 s or at its end.
    std::string readLine();
    pid_t pid() const { return pid_; }
    // Resident memory in KiB, from /proc; 0 when gone.
    long residentKiB() const;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// A TCP port on 127.0.0.1 nothing listened on a moment ago.
unsigned freeLoopbackPort();

}  // namespace nettlebeam::exporter::testing
