#include "server_log.hpp"

#include <arpa/inet.h>

#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace vossad {

const char* DropReasonText(DropReason reason) {
  switch (reason) {
    case DropReason::kLeft:
      return "left";
    case DropReason::kClosedByAgent:
      return "connection closed by the agent";
    case DropReason::kConnectionLost:
      return "connection lost";
    case DropReason::kSendFailed:
      return "connection lost while sending";
    case DropReason::kNotReading:
      return "does not read what it is sent";
    case DropReason::kBadSignature:
      return "sent a frame with a bad signature";
    case DropReason::kFrameTooLong:
      return "announced a frame longer than any line agents send";
    case DropReason::kLineFlood:
      return "sent more lines than its token bucket allows";
    case DropReason::kFrameStalled:
      return "did not finish a frame within the ping timeout";
    case DropReason::kNoPingAnswer:
      return "did not answer PING";
    case DropReason::kTakenElsewhere:
      return "its id was taken at another instance";
  }
  return "dropped";
}

bool IsFault(DropReason reason) {
  return reason != DropReason::kLeft && reason != DropReason::kClosedByAgent &&
         reason != DropReason::kConnectionLost;
}

namespace {

// Writes the dotted quad at out (at most 15 bytes); returns its end.
char* WriteAddress(in_addr address, char* out) {
  // Every registration names its player by this text; inet_ntop formats
  // through sprintf, about 1,700 instructions, and this is a few dozen.
  const std::uint32_t host = ntohl(address.s_addr);
  char* p = out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned octet = (host >> shift) & 0xFF;
    if (octet >= 100) *p++ = static_cast<char>('0' + octet / 100);
    if (octet >= 10) *p++ = static_cast<char>('0' + octet / 10 % 10);
    *p++ = static_cast<char>('0' + octet % 10);
    if (shift > 0) *p++ = '.';
  }
  return p;
}

}  // namespace

std::string AddressText(in_addr address) {
  char text[INET_ADDRSTRLEN];
  return std::string(text, WriteAddress(address, text));
}

std::string AddressText(in_addr address, char separator, std::uint16_t port) {
  // Built in place: a player's id is made at every registration.
  char text[INET_ADDRSTRLEN + 6];
  char* end = WriteAddress(address, text);
  *end++ = separator;
  end = std::to_chars(end, text + sizeof text, port).ptr;
  return std::string(text, end);
}

std::string Printable(std::string_view text, std::size_t max) {
  std::string out(text.substr(0, max));
  for (char& ch : out) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
  }
  if (text.size() > max) out += "...";
  return out;
}

void ServerLog::Write(std::uint32_t source, const std::string& who, const char* format, ...) {
  if (quiet_) return;
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // The format names the kind of line.
  if (!limiter_.Admit(source, format, Clock::now(), who + " " + message)) return;
  WriteLine(who, message);
}

std::size_t ServerLog::Summarise(Clock::time_point now) {
  if (quiet_) return 0;
  std::size_t summarised = 0;
  limiter_.Summarise(now, [this, &summarised](std::uint32_t source, std::size_t count, const std::string& example) {
    summarised += count;
    in_addr address{};
    address.s_addr = source;
    char message[640];
    std::snprintf(message, sizeof message, "%zu more lines like this one were not logged: %s", count,
                  example.c_str());
    WriteLine(source == 0 ? "-" : AddressText(address), message);
  });
  return summarised;
}

void ServerLog::WriteLine(const std::string& who, const char* message) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != stampSecond_) {
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    std::strftime(stampPrefix_, sizeof stampPrefix_, "%Y-%m-%d %H:%M:%S", &local);
    stampSecond_ = now.tv_sec;
  }
  std::fprintf(stderr, "%s.%03ld %s %s\n", stampPrefix_, now.tv_nsec / 1000000, who.c_str(), message);
}

}  // namespace vossad
