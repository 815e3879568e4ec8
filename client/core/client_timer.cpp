#include "client_timer.hpp"

#include <algorithm>
#include <vector>

#include "sound.hpp"

namespace lobby {

namespace {
std::vector<ClientTimer*>& AllTimers() {
  static std::vector<ClientTimer*> timers;
  return timers;
}
}  // namespace

ClientTimer::ClientTimer(int intervalMs, QObject* parent) : QObject(parent) {
  timer_.setInterval(intervalMs);
  connect(&timer_, &QTimer::timeout, this, &ClientTimer::Tick);
  AllTimers().push_back(this);
}

ClientTimer::~ClientTimer() {
  auto& timers = AllTimers();
  timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void ClientTimer::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  held_ = false;
  if (enabled)
    timer_.start();
  else
    timer_.stop();
}

void ClientTimer::Tick() {
  if (!enabled_) return;
  if (SyncSoundPlaying()) {
    // One held tick stands for all that fall during the sound.
    held_ = true;
    timer_.stop();
    return;
  }
  if (onTimer_) onTimer_();
}

void ClientTimer::RunHeldTicks() {
  // A handler may create, enable or destroy timers: walk a copy and check
  // each is still there.
  const std::vector<ClientTimer*> snapshot = AllTimers();
  for (ClientTimer* t : snapshot) {
    const auto& live = AllTimers();
    if (std::find(live.begin(), live.end(), t) == live.end()) continue;
    if (!t->held_) continue;
    t->held_ = false;
    if (t->enabled_) {
      t->timer_.start();
      if (t->onTimer_) t->onTimer_();
    }
  }
}

}  // namespace lobby
