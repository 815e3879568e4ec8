// server_list.hpp - the server list file that the lobby server hands to
// agents whose copy is out of date (the CINI exchange). Internal to the lobby
// server.
//
// The file has the layout of the agents' own list file: a [QORServers]
// section of Key=value lines (ServerCount, Server1, Name1, Location1, ...,
// Version). An agent that reports another version gets every line of that
// section, except two it writes itself: the section header and its
// CurrentServer line. Blank lines, ";" comments and lines of other sections
// are not sent either.
//
// The list always carries a Version line with the version the server
// compares against, so that an agent that took the list reports that version
// next time and is not sent the list again: the version is the one given on
// the command line if any, else the file's Version value, else "1" (not "0",
// which is what an agent without a Version line reports).
//
// Read here rather than with the platform's IniDocument, which is internal
// to that library and drops "#" lines as comments that this list hands on.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vossad {

struct ServerList {
  std::string version;
  std::vector<std::string> lines;  // in file order, without line ends
};

// Reads the file at path. versionOverride, when set, replaces the file's
// version. Returns nothing and sets *error when the file cannot be read.
std::optional<ServerList> LoadServerList(const std::string& path,
                                         const std::optional<std::string>& versionOverride,
                                         std::string* error);

// The same from text already in memory.
ServerList ParseServerList(const std::string& text, const std::optional<std::string>& versionOverride);

// The list of a fleet's live instances, from the addresses they advertise
// (sorted): one ServerN and NameN per address, and a Version made from the
// set, so that it changes whenever an instance comes or goes.
ServerList FleetServerList(const std::vector<std::string>& addresses);

}  // namespace vossad
