// native_path.hpp - internal to the platform layer: the C++ form of
// plat_native_path, for the other parts of the library that open files.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

// Windows-style path to native path; see plat_native_path in platform.h.
std::string ToNativePath(std::string_view path);

}  // namespace platform::detail
