#include "redis_client.hpp"

#include <hiredis/async.h>
#include <hiredis/hiredis.h>
#include <arpa/inet.h>
#include <sys/epoll.h>

#include <algorithm>
#include <charconv>
#include <utility>

namespace vossad {
namespace {

// "<marker><n>\r\n", as the protocol heads an array or a bulk string.
void AppendLength(std::string& out, char marker, std::size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out += marker;
  out.append(digits, end);
  out += "\r\n";
}

using SteadyClock = std::chrono::steady_clock;

// Bytes of one reply waiting to be whole. The fleet's largest replies (a
// scan or a read of 512 records of at most a few KiB each) stay far below.
constexpr std::size_t kMaxBufferedReply = 8 * 1024 * 1024;

bool ParseNumber(std::string_view text, unsigned long max, unsigned long* out) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return false;
  *out = value;
  return true;
}

}  // namespace

bool ParseRedisUrl(std::string_view url, RedisAddress* out, std::string* error) {
  const auto fail = [&](const char* why) {
    if (error != nullptr) *error = why;
    return false;
  };
  constexpr std::string_view kScheme = "redis://";
  if (url.substr(0, kScheme.size()) != kScheme) return fail("a store is redis://[user@]host:port[/db]");
  std::string_view rest = url.substr(kScheme.size());
  RedisAddress address;
  if (const std::size_t at = rest.find('@'); at != std::string_view::npos) {
    address.user.assign(rest.substr(0, at));
    if (address.user.empty() || address.user.find(':') != std::string::npos)
      return fail("the store's user name is empty or holds a password (give the password in a file)");
    rest.remove_prefix(at + 1);
  }
  if (const std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    unsigned long db = 0;
    if (!ParseNumber(rest.substr(slash + 1), 1023, &db)) return fail("the store's database is not a number");
    address.db = static_cast<unsigned>(db);
    rest = rest.substr(0, slash);
  }
  const std::size_t colon = rest.rfind(':');
  unsigned long port = 0;
  if (colon == std::string_view::npos || colon == 0 || !ParseNumber(rest.substr(colon + 1), 65535, &port) ||
      port == 0)
    return fail("the store needs a host and a port");
  address.host.assign(rest.substr(0, colon));
  // hiredis would resolve a name with a blocking call on the loop.
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, address.host.c_str(), &v4) != 1 && inet_pton(AF_INET6, address.host.c_str(), &v6) != 1)
    return fail("the store's host must be an IP address");
  address.port = static_cast<std::uint16_t>(port);
  *out = std::move(address);
  return true;
}

RedisClient::RedisClient(platform::EventLoop& loop, RedisAddress address, Timing timing,
                         std::function<void()> onUp, std::function<void()> onDown)
    : loop_(loop),
      address_(std::move(address)),
      timing_(timing),
      onUp_(std::move(onUp)),
      onDown_(std::move(onDown)),
      backoff_(timing.firstBackoff),
      deadline_(loop, [this] { OnDeadline(); }),
      reconnect_(loop, [this] { Connect(); }) {}

RedisClient::~RedisClient() {
  *alive_ = false;
  onUp_ = nullptr;
  onDown_ = nullptr;
  if (redisAsyncContext* ac = std::exchange(ac_, nullptr)) {
    ac->data = nullptr;  // the null answers below find no client
    redisAsyncFree(ac);
  }
}

void RedisClient::Start() {
  if (started_) return;
  started_ = true;
  Connect();
}

void RedisClient::Connect() {
  if (ac_ != nullptr) return;
  redisAsyncContext* ac = redisAsyncConnect(address_.host.c_str(), address_.port);
  if (ac == nullptr) {
    ScheduleReconnect();
    return;
  }
  if (ac->err != 0) {
    redisAsyncFree(ac);
    ScheduleReconnect();
    return;
  }
  ac_ = ac;
  arena_.Serve(ac->c.reader);
  ac->data = this;
  ac->ev.data = this;
  ac->ev.addRead = &RedisClient::AddRead;
  ac->ev.delRead = &RedisClient::DelRead;
  ac->ev.addWrite = &RedisClient::AddWrite;
  ac->ev.delWrite = &RedisClient::DelWrite;
  ac->ev.cleanup = &RedisClient::Cleanup;
  redisAsyncSetConnectCallback(ac, &RedisClient::OnConnected);
  redisAsyncSetDisconnectCallback(ac, &RedisClient::OnDisconnected);
  connectDeadline_ = SteadyClock::now() + timing_.connectTimeout;
  // hiredis asked for writability before the hooks were in place.
  AddWrite(this);
  ArmDeadline();
}

void RedisClient::OnConnected(const redisAsyncContext* ac, int status) {
  auto* self = static_cast<RedisClient*>(ac->data);
  if (self == nullptr) return;
  if (status != REDIS_OK) {
    // hiredis frees the context once this returns.
    self->ac_ = nullptr;
    self->watch_.Reset();
    self->connectDeadline_ = {};
    self->ScheduleReconnect();
    return;
  }
  self->Handshake();
}

void RedisClient::Handshake() {
  std::vector<std::vector<std::string>> steps;
  if (!address_.password.empty()) {
    if (address_.user.empty()) {
      steps.push_back({"AUTH", address_.password});
    } else {
      steps.push_back({"AUTH", address_.user, address_.password});
    }
  }
  if (address_.db != 0) steps.push_back({"SELECT", std::to_string(address_.db)});
  steps.push_back({"PING"});  // the first answer shows the server is there
  const std::size_t count = steps.size();
  auto failed = std::make_shared<bool>(false);
  for (std::size_t i = 0; i < count; ++i) {
    const bool last = i + 1 == count;
    Send(
        steps[i],
        [this, failed, last](const redisReply* reply) {
          if (*failed) return;
          if (reply == nullptr || reply->type == REDIS_REPLY_ERROR) {
            *failed = true;
            if (reply != nullptr) Drop("the store refused the handshake");
            return;
          }
          if (!last) return;
          connectDeadline_ = {};
          ArmDeadline();
          up_ = true;
          backoff_ = timing_.firstBackoff;
          if (onUp_) onUp_();
        },
        timing_.connectTimeout, true);
  }
}

void RedisClient::OnDisconnected(const redisAsyncContext* ac, int /*status*/) {
  auto* self = static_cast<RedisClient*>(ac->data);
  if (self == nullptr || self->ac_ != ac) return;
  // hiredis frees the context once this returns.
  self->ac_ = nullptr;
  self->watch_.Reset();
  self->Lost();
}

void RedisClient::Command(const std::vector<std::string>& args, Callback callback,
                          std::chrono::milliseconds timeout) {
  if (up_ && Send(args, callback, timeout.count() > 0 ? timeout : timing_.commandTimeout, false)) return;
  loop_.RunInLoop([alive = alive_, callback = std::move(callback)] {
    if (*alive) callback(nullptr);
  });
}

struct RedisClient::Pending {
  RedisClient* client;
  Callback callback;
};

bool RedisClient::Send(const std::vector<std::string>& args, Callback callback, std::chrono::milliseconds timeout,
                       bool /*handshake*/) {
  if (ac_ == nullptr) return false;
  // The protocol's framing is written here, in one buffer used again for
  // every command; hiredis's own formatting goes through a printf-like
  // routine for each argument.
  formatted_.clear();
  AppendLength(formatted_, '*', args.size());
  for (const std::string& a : args) {
    AppendLength(formatted_, '$', a.size());
    formatted_ += a;
    formatted_ += "\r\n";
  }
  auto* pending = new Pending{this, std::move(callback)};
  if (redisAsyncFormattedCommand(ac_, &RedisClient::OnReply, pending, formatted_.data(), formatted_.size()) !=
      REDIS_OK) {
    delete pending;
    return false;
  }
  if (formatted_.capacity() > 65536) std::string().swap(formatted_);  // after a rare big one
  deadlines_.push_back(SteadyClock::now() + timeout);
  if (deadlines_.size() == 1) ArmDeadline();
  return true;
}

void RedisClient::OnReply(redisAsyncContext* ac, void* reply, void* privdata) {
  std::unique_ptr<Pending> pending(static_cast<Pending*>(privdata));
  auto* self = static_cast<RedisClient*>(ac->data);
  if (self == nullptr) return;  // the client is being destroyed
  if (!self->deadlines_.empty()) self->deadlines_.pop_front();
  if (reply != nullptr) self->ArmDeadline();
  if (pending->callback) pending->callback(static_cast<const redisReply*>(reply));
}

void RedisClient::AddRead(void* self) {
  static_cast<RedisClient*>(self)->wantRead_ = true;
  static_cast<RedisClient*>(self)->UpdateWatch();
}
void RedisClient::DelRead(void* self) {
  static_cast<RedisClient*>(self)->wantRead_ = false;
  static_cast<RedisClient*>(self)->UpdateWatch();
}
void RedisClient::AddWrite(void* self) {
  static_cast<RedisClient*>(self)->wantWrite_ = true;
  static_cast<RedisClient*>(self)->UpdateWatch();
}
void RedisClient::DelWrite(void* self) {
  static_cast<RedisClient*>(self)->wantWrite_ = false;
  static_cast<RedisClient*>(self)->UpdateWatch();
}
void RedisClient::Cleanup(void* self) {
  auto* client = static_cast<RedisClient*>(self);
  client->wantRead_ = client->wantWrite_ = false;
  client->watch_.Reset();
}

void RedisClient::UpdateWatch() {
  if (ac_ == nullptr) return;
  const std::uint32_t events = (wantRead_ ? EPOLLIN : 0u) | (wantWrite_ ? EPOLLOUT : 0u);
  if (watch_.active()) {
    watch_.Modify(events);
    return;
  }
  watch_ = platform::FdWatch(loop_, ac_->c.fd, events, [this](std::uint32_t ready) {
    if (ac_ != nullptr && (ready & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) {
      redisAsyncHandleRead(ac_);
      // hiredis keeps a bulk reply's bytes until all of them are in: a
      // store sending one far larger than anything the fleet asks for is
      // cut off before it costs the server its memory.
      if (ac_ != nullptr && ac_->c.reader != nullptr && ac_->c.reader->len - ac_->c.reader->pos > kMaxBufferedReply) {
        Drop("the store sent an oversized reply");
        return;
      }
    }
    if (ac_ != nullptr && (ready & EPOLLOUT) != 0) redisAsyncHandleWrite(ac_);
  });
  if (!watch_.active()) {
    loop_.RunInLoop([this, alive = alive_] {
      if (*alive) Drop("the loop would not watch the store's socket");
    });
  }
}

void RedisClient::ArmDeadline() {
  SteadyClock::time_point next = SteadyClock::time_point::max();
  if (connectDeadline_ != SteadyClock::time_point{}) next = connectDeadline_;
  if (!deadlines_.empty()) next = std::min(next, deadlines_.front());
  if (next == SteadyClock::time_point::max()) {
    deadline_.Stop();
    return;
  }
  const auto delay = std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now());
  deadline_.Start(std::max(delay, std::chrono::milliseconds(1)));
}

void RedisClient::OnDeadline() {
  const auto now = SteadyClock::now();
  const bool connectLate = connectDeadline_ != SteadyClock::time_point{} && now >= connectDeadline_;
  const bool commandLate = !deadlines_.empty() && now >= deadlines_.front();
  if (connectLate || commandLate) {
    Drop(connectLate ? "connect timed out" : "a command timed out");
  } else {
    ArmDeadline();
  }
}

void RedisClient::Drop(const char* /*why*/) {
  redisAsyncContext* ac = std::exchange(ac_, nullptr);
  watch_.Reset();
  if (ac != nullptr) {
    // The waiting commands are answered with null, and the disconnect
    // callback finds ac_ already cleared.
    redisAsyncFree(ac);
  }
  Lost();
}

void RedisClient::Lost() {
  deadlines_.clear();
  connectDeadline_ = {};
  deadline_.Stop();
  const bool wasUp = std::exchange(up_, false);
  ScheduleReconnect();
  if (wasUp && onDown_) onDown_();
}

void RedisClient::ScheduleReconnect() {
  if (reconnect_.IsArmed()) return;
  reconnect_.Start(backoff_);
  backoff_ = std::min(backoff_ * 2, timing_.maxBackoff);
}

}  // namespace vossad
