// lobby_client.hpp - a scripted agent for tests of the real vossad: raw
// frames over a loopback connection, registration, queries and probe
// answers, each wait bounded by kPatience (a bound, never a timing claim).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vossad_process.hpp"

namespace testsupport {

using namespace std::chrono_literals;

inline constexpr auto kPatience = 10s;  // bound of every wait; never a timing claim
inline const std::string kSignature = "mR&2s7qV";
inline const std::string kSep = "\x18";

inline std::string Description(const std::string& real, const std::string& city = "Oslo",
                        const std::string& age = "31", const std::string& sex = "1") {
  return "VERSION=0.90b1;REAL=" + real + ";DESC=likes chess;CITY=" + city + ";COUNTRY=Norway;AGE=" + age +
         ";SEX=" + sex + ";EMAIL=a@b.c;";
}

// A server frame: signature, length prefix, text (no close marker).
inline std::string Frame(const std::string& text) {
  std::string f = kSignature;
  const std::size_t n = text.size();
  auto le = [&](std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  if (n <= 254) {
    le(n, 1);
  } else if (n <= 65533) {
    le(0xFF, 1), le(n, 2);
  } else {
    le(0xFFFFFF, 3), le(n, 4);
  }
  f.append(text);
  return f;
}

inline bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return condition();
}

class Client {
 public:
  // `from`: the address to connect from (127.0.0.0/8 is all local), `to`
  // the server's.
  Client(int serverPort, bool answersPings = true, const char* from = "127.0.0.1", const char* to = "127.0.0.1")
      : answersPings_(answersPings) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(serverPort));
    inet_pton(AF_INET, to, &a.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  void SendRaw(const std::string& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void Send(const std::string& text) { SendRaw(Frame(text)); }
  void Join(int port, const std::string& description, const std::string& app = "Corva") {
    Send("JOIN ID=" + std::to_string(port) + ";APP=" + app + ";OWN=1.1.1.1;" + kSep + description);
  }
  static std::string QueryLine(const std::string& filter, int max = 100, const std::string& app = "Corva") {
    return "QUER APP=" + app + ";MAX=" + std::to_string(max) + ";" + kSep + filter;
  }
  // Sends a query and returns its answer: the USER lines, then QROK or QRFL.
  std::vector<std::string> Query(const std::string& filter, int max = 100, const std::string& app = "Corva") {
    Send(QueryLine(filter, max, app));
    return Answer();
  }
  std::vector<std::string> Answer() {
    std::vector<std::string> lines;
    while (auto line = Next()) {
      lines.push_back(*line);
      if (*line == "QROK" || *line == "QRFL") break;
    }
    return lines;
  }
  // The next frame's text; nothing when the connection ended or kPatience ran out.
  std::optional<std::string> Next() {
    for (;;) {
      if (auto text = TakeFrame()) {
        if (*text == "PING" && answersPings_) {
          Send("PING");
          continue;
        }
        return text;
      }
      if (!Receive(kPatience)) return std::nullopt;
    }
  }
  // Reads (and answers probes) until the server has closed the connection.
  bool ClosedByServer() {
    while (Next()) {
    }
    return eof_;
  }
  // Takes what has arrived without waiting, answering probes when this
  // client does and dropping everything else. False once the server closed.
  bool KeepAlive() {
    while (Receive(0ms)) {
      while (auto text = TakeFrame()) {
        if (*text == "PING" && answersPings_) Send("PING");
      }
    }
    return !eof_;
  }
  bool connected() const { return connected_; }
  int fd() const { return fd_; }

 private:
  bool Receive(std::chrono::milliseconds within) {
    pollfd p{fd_, POLLIN, 0};
    if (eof_ || poll(&p, 1, static_cast<int>(within.count())) <= 0) return false;
    char chunk[65536];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    in_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  std::optional<std::string> TakeFrame() {
    if (in_.size() < 9) return std::nullopt;
    EXPECT_EQ(in_.substr(0, 8), kSignature);
    const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(in_[i])); };
    std::size_t header = 9;
    std::uint64_t n = byte(8);
    if (n == 0xFF) {
      if (in_.size() < 11) return std::nullopt;
      header = 11;
      n = byte(9) | byte(10) << 8;
      EXPECT_NE(n, 0xFFFFu) << "no answer of the server needs the 32-bit form";
    }
    if (in_.size() < header + n) return std::nullopt;
    std::string text = in_.substr(header, n);
    in_.erase(0, header + n);
    return text;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool answersPings_;
  bool eof_ = false;
  std::string in_;
};

inline std::string User(int port, const std::string& description) {
  return "USER ID=127.0.0.1:" + std::to_string(port) + ";OWN=1.1.1.1;" + description;
}

// Registers a player and waits until the server has taken the JOIN: a query
// on the same connection is answered only after it.
inline std::unique_ptr<Client> Registered(const Vossad& server, int port, const std::string& description,
                                   const std::string& app = "Corva", bool answersPings = true,
                                   const char* from = "127.0.0.1") {
  auto client = std::make_unique<Client>(server.port(), answersPings, from);
  client->Join(port, description, app);
  EXPECT_EQ(client->Query(" ", 1, "sync").back(), "QROK");
  return client;
}

// The ids of the USER lines of a query's answer, in order.
inline std::vector<std::string> Ids(const std::vector<std::string>& answer) {
  std::vector<std::string> ids;
  for (const std::string& line : answer) {
    if (line.rfind("USER ID=", 0) == 0) ids.push_back(line.substr(8, line.find(';') - 8));
  }
  return ids;
}

}  // namespace testsupport
