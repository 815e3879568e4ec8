// redis_process.hpp - a real redis-server for tests: on a free loopback
// port, persistence off, stopped by its pid; it can be stopped and started
// again on the same port to play a store that went away.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "free_port.hpp"

namespace testsupport {

class RedisServer {
 public:
  explicit RedisServer(std::vector<std::string> extra = {}) : extra_(std::move(extra)) {
    port_ = FreePort();
    Start();
  }
  ~RedisServer() { Stop(); }
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  int port() const { return port_; }
  std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_); }
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Starts on the same port; true once it accepts connections.
  bool Start() {
    if (pid_ > 0) return true;
    std::vector<std::string> args = {"redis-server", "--port", std::to_string(port_), "--bind", "127.0.0.1",
                                     "--save", "", "--appendonly", "no", "--loglevel", "warning"};
    args.insert(args.end(), extra_.begin(), extra_.end());
    pid_ = fork();
    if (pid_ == 0) {
      // Its start-up banner and warnings are no part of a test's output.
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 1);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      if (Accepts()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // SIGKILL: the store vanishes with everything in it.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Runs redis-cli with these arguments and returns its output.
  std::string Cli(const std::vector<std::string>& args) const {
    std::string command = "redis-cli -p " + std::to_string(port_);
    for (const std::string& a : args) {
      command += " '";
      for (const char ch : a) command += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
      command += "'";
    }
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    return out;
  }

 private:
  bool Accepts() const {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
  }

  std::vector<std::string> extra_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace testsupport
