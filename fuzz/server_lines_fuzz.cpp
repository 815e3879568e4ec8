// libFuzzer harness: lines from clients of the lobby server. Every input
// gets a fresh server and three connections, fed through socket pairs as if
// accepted from the addresses 10.0.0.1, 10.0.0.1 and 10.0.0.2; each line of
// the input is "<c><line>" and goes, framed, to connection c % 3 (the first
// byte of the input: raw, to send the rest unframed to connection 0). The
// server is pumped until it is idle and its answers are read and dropped.
// Nothing may crash; every answer must be a whole frame within bounds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/byte_buffer.hpp"
#include "fuzz_input.hpp"
#include "lobby_server.hpp"
#include "platform/frame_codec.hpp"
#include "platform/platform.h"

namespace {

void PumpUntilIdle() {
  for (int i = 0; i < 200 && plat_pump(0) > 0; ++i) {
  }
}

struct Client {
  int fd = -1;
  platform::ByteBuffer in;

  void Write(const std::string& bytes) {
    // The socket pair holds far more than an input's worth; what does not
    // fit is dropped, as from a client that gave up.
    (void)!send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
  void ReadAnswers() {
    char chunk[65536];
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) in.Append(chunk, static_cast<std::size_t>(n));
    std::string text;
    std::uint8_t marker = 0;
    platform::FrameStatus status;
    while ((status = platform::TakeFrame(in, false, text, marker)) == platform::FrameStatus::kOk) {
    }
    // The server only ever writes whole frames of its own making.
    if (status != platform::FrameStatus::kNeedMore) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  vossad::ServerOptions options;
  options.bindAddress = "127.0.0.1";
  options.port = 0;
  options.quiet = true;
  vossad::LobbyServer server(options);
  if (!server.Start(nullptr)) std::abort();

  std::array<Client, 3> clients;
  const char* addresses[3] = {"10.0.0.1", "10.0.0.1", "10.0.0.2"};
  for (std::size_t i = 0; i < clients.size(); ++i) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    fcntl(pair[0], F_SETFL, O_NONBLOCK);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(40000 + i));
    inet_pton(AF_INET, addresses[i], &peer.sin_addr);
    if (!server.Adopt(pair[0], peer)) std::abort();
    clients[i].fd = pair[1];
  }

  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] == 'r') {
    clients[0].Write(fuzzinput::Bytes(data + 1, size - 1));
  } else {
    for (const std::string& line : fuzzinput::Lines(rest)) {
      if (line.empty()) continue;
      platform::ByteBuffer frame;
      platform::AppendFrame(frame, std::string_view(line).substr(1), false);
      Client& client = clients[static_cast<std::uint8_t>(line[0]) % clients.size()];
      client.Write(std::string(frame.Readable()));
      // Lines of different connections interleave as their turns come.
      PumpUntilIdle();
      client.ReadAnswers();
    }
  }
  PumpUntilIdle();
  for (Client& client : clients) {
    client.ReadAnswers();
    close(client.fd);
  }
  PumpUntilIdle();
  server.Stop();
  return 0;
}
