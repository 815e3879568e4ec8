// getopt_long behind the console programs' shared command-line convention.
#include "platform/command_line.hpp"

#include <getopt.h>

#include <cstdio>
#include <vector>

namespace platform {
namespace {

constexpr int kHelpId = -1000;
constexpr int kVersionId = -1001;

}  // namespace

CommandLineResult ParseCommandLine(int argc, const char* const* argv, std::span<const CommandOption> options,
                                   const OptionHandler& handle, std::string* error) {
  std::vector<option> table;
  // "+": stop at the first non-option instead of reordering argv (which the
  // caller may not own); ":": a missing value is reported as ':'.
  std::string letters = "+:hV";
  for (const CommandOption& o : options) {
    table.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, o.id});
    if (o.letter != 0) {
      letters += o.letter;
      if (o.takesValue) letters += ':';
    }
  }
  table.push_back({"help", no_argument, nullptr, kHelpId});
  table.push_back({"version", no_argument, nullptr, kVersionId});
  table.push_back({nullptr, 0, nullptr, 0});

  const auto idOfLetter = [&](int letter) {
    for (const CommandOption& o : options) {
      if (o.letter == letter) return o.id;
    }
    return letter;
  };
  // The option as written, without an attached "=value".
  const auto nameOf = [&](int index) {
    const std::string arg = argv[index];
    return arg.rfind("--", 0) == 0 ? arg.substr(0, arg.find('=')) : arg.substr(0, 2);
  };

  char* const* args = const_cast<char* const*>(argv);
  optind = 0;  // a full restart of getopt's state, so that it may parse again
  opterr = 0;
  CommandLineResult result = CommandLineResult::kRun;
  for (;;) {
    const int at = optind == 0 ? 1 : optind;
    const int c = getopt_long(argc, args, letters.c_str(), table.data(), nullptr);
    if (c == -1) break;
    // optopt: the letter of a short option, the id of a long one given a
    // value it does not take, 0 for an unknown long one.
    const bool letter = optopt > 0 && optopt < 256;
    if (c == '?') {
      if (optopt != 0 && !letter) {
        *error = nameOf(at) + " takes no value";
      } else {
        *error = "unknown option " + (letter ? std::string("-") + static_cast<char>(optopt) : nameOf(at)) +
                 " (see --help)";
      }
      return CommandLineResult::kError;
    }
    if (c == ':') {
      *error = (letter ? std::string("-") + static_cast<char>(optopt) : nameOf(at)) + " needs a value (see --help)";
      return CommandLineResult::kError;
    }
    if (c == 'h' || c == kHelpId) {
      result = CommandLineResult::kHelp;
      continue;
    }
    if (c == 'V' || c == kVersionId) {
      if (result == CommandLineResult::kRun) result = CommandLineResult::kVersion;
      continue;
    }
    const std::string value = optarg != nullptr ? optarg : "";
    std::string why;
    if (!handle(idOfLetter(c), value, &why)) {
      *error = why.empty() ? "bad value for " + nameOf(at) + ": " + value : why;
      return CommandLineResult::kError;
    }
  }
  if (optind < argc) {
    *error = std::string("unexpected argument ") + argv[optind] + " (see --help)";
    return CommandLineResult::kError;
  }
  return result;
}

int FinishCommandLine(const char* program, CommandLineResult result, const char* help, const std::string& error) {
  switch (result) {
    case CommandLineResult::kRun:
      return -1;
    case CommandLineResult::kHelp:
      std::fputs(help, stdout);
      return 0;
    case CommandLineResult::kVersion:
      std::printf("%s %s\n", program, ProgramVersion());
      return 0;
    case CommandLineResult::kError:
      break;
  }
  std::fprintf(stderr, "%s: %s\n", program, error.c_str());
  return 2;
}

const char* ProgramVersion() { return PLATFORM_VERSION; }

}  // namespace platform
