// liveness_guard.hpp - lets a handler on the stack learn that its object was
// destroyed under it (public; the channels, the sockets and the agent's
// connection managers use it).
//
// An object whose handlers call out to code that may destroy it keeps one
// `bool* gone_ = nullptr;`. Each handler puts a LivenessGuard on its stack
// over that member, and the object's destructor calls MarkGone(gone_).
// The object points at the innermost guard only while the guard lives:
// the guard's destructor puts the one further out back, or, once the
// object is gone, tells that one too. Unlike a shared flag it costs no
// allocation and no atomic operation per call; like one, it belongs to the
// object's thread.
#pragma once

namespace platform {

class LivenessGuard {
 public:
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  explicit LivenessGuard(bool*& head) : head_(head), outer_(head) { head = &gone_; }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  ~LivenessGuard() {
    if (!gone_) {
      head_ = outer_;
    } else if (outer_ != nullptr) {
      *outer_ = true;  // a handler further up the stack is inside the object too
    }
  }
  LivenessGuard(const LivenessGuard&) = delete;
  LivenessGuard& operator=(const LivenessGuard&) = delete;

  bool gone() const { return gone_; }

  // For the object's destructor.
  static void MarkGone(bool* head) {
    if (head != nullptr) *head = true;
  }

 private:
  bool*& head_;
  bool* outer_;
  bool gone_ = false;
};

}  // namespace platform
