// hot_path.hpp - the mark for functions that every message runs through
// (public: the agent marks its own with it too).
//
// GCC places functions so marked together in .text.hot, so that the code of
// one message, which passes through some forty functions of several source
// files, shares cache lines instead of spreading over the whole library.
#pragma once

#define PLAT_HOT_PATH [[gnu::hot]]
