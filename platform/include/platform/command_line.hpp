// command_line.hpp - the console programs' command lines, one convention for
// all of them (public; used by vossad, lobbybot and lobby-setup).
//
// Options are read with getopt_long: long names (--name VALUE or
// --name=VALUE), optional one-letter forms (-n VALUE), and --help (-h) and
// --version (-V) on every program. Parsing stops at the first argument that
// is not an option; none of these programs takes one, so it is an error.
// Errors come back as text; Finish prints "program: message" on standard
// error and gives exit status 2, the convention for a bad command line.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace platform {

struct CommandOption {
  const char* name;     // long name without the dashes
  char letter;          // one-letter form; 0 for none
  bool takesValue;
  int id;               // what the handler is given; 256 or above
};

enum class CommandLineResult { kRun, kHelp, kVersion, kError };

// Called for each option in order with its value (empty for a flag).
// Returns false with *error set (no program name) for a value it refuses.
using OptionHandler = std::function<bool(int id, const std::string& value, std::string* error)>;

// Parses argv[1..]. On kError *error says what was wrong.
PLAT_EXPORT CommandLineResult ParseCommandLine(int argc, const char* const* argv,
                                               std::span<const CommandOption> options,
                                               const OptionHandler& handle, std::string* error);

// What a program's main does with the result: prints the help text, the
// version ("program VERSION") or the error, and returns the exit status
// (0 after help or version, 2 after an error); -1 when the program runs.
PLAT_EXPORT int FinishCommandLine(const char* program, CommandLineResult result, const char* help,
                                  const std::string& error);

// The version every program of the build reports.
PLAT_EXPORT const char* ProgramVersion();

}  // namespace platform
