// command_line.hpp - what the lobby program does with its arguments
// (internal to the program).
//
// Nothing on the command line configures the client: it is configured by
// the files of its installation only. It answers --help and --version, and
// refuses anything else, before it needs a display.
#pragma once

#include <optional>

namespace lobby {

// The exit status when the program is to end at once (help or version
// printed: 0; a bad argument: 2), nothing when it is to run.
std::optional<int> HandleCommandLine(int argc, char** argv);

}  // namespace lobby
