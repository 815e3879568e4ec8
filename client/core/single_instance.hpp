// single_instance.hpp - whether another copy of the client runs (internal).
//
// A named semaphore says that some copy started before; the window search
// then tells a running copy from a stale answer. The caller's own window
// takes part: it must exist with the same title, below every other window,
// so that the search retitles it first and a second search finds only
// another copy's.
#pragma once

#include <functional>
#include <string>

namespace lobby {

inline constexpr const char* kSemaphoreName = "SemaphoreName2";
inline constexpr const char* kHiddenTitle = "zzzzzzz2";

// True when another copy runs. The semaphore of the first copy stays held for
// the life of its process. prepareOwnWindow runs before the search (only
// when there is one to run) and puts the caller's window in place.
bool AnotherInstanceRuns(const std::string& title, const std::function<void()>& prepareOwnWindow);

}  // namespace lobby
