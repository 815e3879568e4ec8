// single_instance.hpp - whether another copy of the client runs (internal).
//
// A named semaphore says that some copy started before; the window search
// then tells a running copy from a stale answer. The caller's own window
// must already exist with the same title, below every other window: the
// search retitles the first window it meets (its own) so that a second
// search finds only another copy's.
#pragma once

#include <string>

namespace lobby {

inline constexpr const char* kSemaphoreName = "SemaphoreName2";
inline constexpr const char* kHiddenTitle = "zzzzzzz2";

// True when another copy runs. The semaphore of the first copy stays held for
// the life of its process.
bool AnotherInstanceRuns(const std::string& title);

}  // namespace lobby
