// The console programs' shared command-line convention on getopt_long.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.hpp"

namespace {

using platform::CommandLineResult;

enum { kName = 256, kCount, kFlag };
constexpr platform::CommandOption kOptions[] = {
    {"name", 'n', true, kName}, {"count", 0, true, kCount}, {"flag", 'f', false, kFlag}};

struct Parsed {
  CommandLineResult result;
  std::vector<std::string> seen;  // "id=value" in order
  std::string error;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "prog");
  Parsed p;
  p.result = platform::ParseCommandLine(
      static_cast<int>(args.size()), args.data(), kOptions,
      [&p](int id, const std::string& value, std::string*) {
        p.seen.push_back(std::to_string(id) + "=" + value);
        return id != kCount || value == "1";
      },
      &p.error);
  return p;
}

TEST(CommandLine, LongShortAndAttachedFormsReachTheHandlerInOrder) {
  const Parsed p = Parse({"--name", "a", "--name=b", "-n", "c", "-nd", "-f", "--flag", "--count", "1"});
  ASSERT_EQ(p.result, CommandLineResult::kRun) << p.error;
  EXPECT_EQ(p.seen, (std::vector<std::string>{"256=a", "256=b", "256=c", "256=d", "258=", "258=", "257=1"}));
  // Parsed twice in one process, as the tests do: getopt's state restarts.
  EXPECT_EQ(Parse({"-f"}).seen, std::vector<std::string>{"258="});
}

TEST(CommandLine, HelpAndVersionWinOverRunningHelpOverVersion) {
  EXPECT_EQ(Parse({"--flag", "--version"}).result, CommandLineResult::kVersion);
  EXPECT_EQ(Parse({"-V", "-h"}).result, CommandLineResult::kHelp);
  EXPECT_EQ(Parse({"--help", "--version"}).result, CommandLineResult::kHelp);
}

TEST(CommandLine, EveryMistakeIsAnErrorThatNamesIt) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--bogus"}, "unknown option --bogus (see --help)"},
      {{"-x"}, "unknown option -x (see --help)"},
      {{"--name"}, "--name needs a value (see --help)"},
      {{"-n"}, "-n needs a value (see --help)"},
      {{"--count=2"}, "bad value for --count: 2"},
      {{"--flag=1"}, "--flag takes no value"},
      {{"stray"}, "unexpected argument stray (see --help)"},
      {{"-f", "stray", "--flag"}, "unexpected argument stray (see --help)"},
  };
  for (const auto& [args, message] : cases) {
    const Parsed p = Parse(args);
    EXPECT_EQ(p.result, CommandLineResult::kError) << args[0];
    EXPECT_EQ(p.error, message) << args[0];
  }
}

TEST(CommandLine, FinishGivesTheConventionalExitStatus) {
  EXPECT_EQ(platform::FinishCommandLine("prog", CommandLineResult::kRun, "", ""), -1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(platform::FinishCommandLine("prog", CommandLineResult::kError, "", "unknown option -x"), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "prog: unknown option -x\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(platform::FinishCommandLine("prog", CommandLineResult::kVersion, "", ""), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("prog ") + platform::ProgramVersion() + "\n");
}

}  // namespace
