// bot_process.hpp - the console player started as a child process for
// tests: its standard output read line by line while the test's own loop is
// pumped, stopped with a signal.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../support/raw_peer.hpp"

namespace testsupport {

class BotProcess {
 public:
  explicit BotProcess(std::vector<std::string> options) {
    std::vector<std::string> args = {LOBBYBOT_PATH};
    args.insert(args.end(), options.begin(), options.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~BotProcess() {
    Stop(SIGKILL);
    if (out_ >= 0) close(out_);
  }
  BotProcess(const BotProcess&) = delete;
  BotProcess& operator=(const BotProcess&) = delete;

  // Pumps the test's loop until a line containing `text` comes after the
  // line the last wait found; *found gets it.
  bool WaitForLine(const std::string& text, std::string* found = nullptr) {
    // PumpUntil asks once more at the end, so the match is remembered.
    bool matched = false;
    return PumpUntil([&] {
      Read();
      for (; !matched && next_ < lines_.size(); ++next_) {
        if (lines_[next_].find(text) != std::string::npos) {
          if (found) *found = lines_[next_];
          matched = true;
        }
      }
      return matched;
    });
  }

  // Sends the signal and returns the exit status (-1: killed or no exit
  // within ten seconds).
  int Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return status_;
    kill(pid_, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status_ = -1;
      }
      plat_pump(5);
    }
    pid_ = -1;
    Read();
    return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::vector<std::string>& lines() {
    Read();
    return lines_;
  }

 private:
  void Read() {
    char buf[4096];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, buf, sizeof buf)) > 0) partial_.append(buf, static_cast<size_t>(n));
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

}  // namespace testsupport
