// vossad_process.hpp - the real lobby server started as a child process for
// tests: on a free loopback port (it reports the port it took), stopped with
// SIGTERM. Its log goes to a file when one is named, else to the test's
// standard error.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class Vossad {
 public:
  explicit Vossad(std::vector<std::string> extra = {}, const std::string& logFile = "") {
    std::vector<std::string> args = {VOSSAD_PATH, "--bind", "127.0.0.1", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      if (!logFile.empty()) {
        const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (log >= 0) dup2(log, 2);
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char ch;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(out[0], &ch, 1) == 1) {
      line += ch;
    }
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos) port_ = std::atoi(&line[colon + 1]);
  }
  ~Vossad() { Stop(); }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  // SIGTERM, then the exit status (-1 when it had to be killed).
  int Stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status_ = -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
};

}  // namespace testsupport
