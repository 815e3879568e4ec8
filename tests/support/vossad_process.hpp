// vossad_process.hpp - the real lobby server started as a child process for
// tests: on a free loopback port (it reports the port it took, and its HTTP
// port when started with --http), stopped with
// SIGTERM. Its log goes to a file when one is named, else to the test's
// standard error.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
    port_ = ReadPort(out[0], "listening on ");
    // With --http a second line names the HTTP port.
    if (std::find(extra.begin(), extra.end(), "--http") != extra.end()) httpPort_ = ReadPort(out[0], "http on ");
    close(out[0]);
  }
  ~Vossad() { Stop(); }

  int port() const { return port_; }
  int httpPort() const { return httpPort_; }
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
  // The port at the end of the next line of fd, when it starts with prefix.
  static int ReadPort(int fd, const char* prefix) {
    std::string line;
    pollfd p{fd, POLLIN, 0};
    char ch;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(fd, &ch, 1) == 1) line += ch;
    const std::size_t colon = line.rfind(':');
    return line.rfind(prefix, 0) == 0 && colon != std::string::npos ? std::atoi(&line[colon + 1]) : 0;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int httpPort_ = 0;
  int status_ = -1;
};

}  // namespace testsupport
