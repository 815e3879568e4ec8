// redis_client.hpp - one asynchronous connection to Redis, driven by the
// server's own event loop (internal to vossad). hiredis does the protocol;
// its socket is watched on a platform::EventLoop the way hiredis's adapters
// hook onto other loops, so nothing blocks the loop and no thread is made.
//
// hiredis 0.14 has no timers of its own: the connect and every command are
// bounded here with the loop's timer. A connect or a command that runs out
// of time, or any connection error, drops the connection (every command
// still waiting is answered with a null reply) and a new connection is tried
// after a backoff that doubles up to a ceiling. Once connected, AUTH (when a
// password is set) and SELECT (when a database is named) are sent before the
// client counts as up.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/reply_arena.hpp"
#include "platform/event_loop.hpp"
#include "platform/timer.hpp"

struct redisAsyncContext;
struct redisReply;

namespace vossad {

struct RedisAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 6379;
  std::string user;  // empty: AUTH with the password alone
  unsigned db = 0;
  std::string password;
};

// Reads "redis://[user@]host:port[/db]", the host an IPv4 or IPv6 address;
// false (and *error) when it is not that.
bool ParseRedisUrl(std::string_view url, RedisAddress* out, std::string* error);

class RedisClient {
 public:
  struct Timing {
    std::chrono::milliseconds connectTimeout{2000};
    std::chrono::milliseconds commandTimeout{2000};
    std::chrono::milliseconds firstBackoff{250};
    std::chrono::milliseconds maxBackoff{5000};
  };
  // Null when the command failed: not connected, timed out, or the
  // connection dropped before the answer came. An error reply is a reply.
  using Callback = std::function<void(const redisReply* reply)>;

  // onUp / onDown run on the loop each time the client comes up (ready
  // for commands) and each time an up connection is lost.
  RedisClient(platform::EventLoop& loop, RedisAddress address, Timing timing, std::function<void()> onUp,
              std::function<void()> onDown);
  ~RedisClient();
  RedisClient(const RedisClient&) = delete;
  RedisClient& operator=(const RedisClient&) = delete;

  // Starts connecting (and reconnecting for as long as the client lives).
  void Start();
  bool up() const { return up_; }
  // Drops the connection as if it had failed (waiting commands answered
  // with null, onDown) and connects again after the backoff.
  void Reconnect(const char* why) {
    if (ac_ != nullptr) Drop(why);
  }

  // Sends a command of binary-safe arguments; the callback runs exactly
  // once, later, on the loop. `timeout` (zero: the default) bounds the wait
  // for this command's answer, as for a blocking read that waits on purpose.
  void Command(const std::vector<std::string>& args, Callback callback,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(0));

 private:
  struct Pending;
  static void OnConnected(const redisAsyncContext* ac, int status);
  static void OnDisconnected(const redisAsyncContext* ac, int status);
  static void OnReply(redisAsyncContext* ac, void* reply, void* privdata);
  static void AddRead(void* self);
  static void DelRead(void* self);
  static void AddWrite(void* self);
  static void DelWrite(void* self);
  static void Cleanup(void* self);

  void Connect();
  bool Send(const std::vector<std::string>& args, Callback callback, std::chrono::milliseconds timeout,
            bool handshake);
  void Handshake();
  void UpdateWatch();
  void ArmDeadline();
  void OnDeadline();
  // Closes the connection (answering what waits with null) and schedules a
  // new one.
  void Drop(const char* why);
  void Lost();
  void ScheduleReconnect();

  platform::EventLoop& loop_;
  const RedisAddress address_;
  const Timing timing_;
  std::function<void()> onUp_;
  std::function<void()> onDown_;
  // Declared before the context it serves, which is freed first.
  ReplyArena arena_;
  redisAsyncContext* ac_ = nullptr;
  platform::FdWatch watch_;
  bool wantRead_ = false;
  bool wantWrite_ = false;
  bool up_ = false;
  bool started_ = false;
  std::chrono::milliseconds backoff_;
  // Deadlines of the commands sent, oldest first: Redis answers in order.
  std::deque<std::chrono::steady_clock::time_point> deadlines_;
  std::chrono::steady_clock::time_point connectDeadline_{};
  std::string formatted_;  // the command being sent, in the protocol's framing
  platform::Timer deadline_;
  platform::Timer reconnect_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vossad
