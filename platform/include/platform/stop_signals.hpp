// stop_signals.hpp - SIGINT and SIGTERM as a request to quit the process
// loop (public; used by the console programs).
//
// The signals are blocked and read from a signalfd watched on the loop, so
// stopping happens between two callbacks, never inside one: the program's
// loop sees plat_quit_requested() and winds down in order.
#pragma once

#include <string>

#include "platform/event_loop.hpp"

namespace platform {

class PLAT_EXPORT StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the signals could not be watched; error() says why.
  bool ok() const { return watch_.active(); }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  FdWatch watch_;
  std::string error_;
};

}  // namespace platform
