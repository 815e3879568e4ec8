// server_list_file.hpp - rewriting the server list file from the lines the
// lobby server sent (internal).
#pragma once

#include <string>
#include <vector>

namespace zep {

// The backup path of a Windows-style path: same drive, folder and name with
// the extension "$$$" ("C:\Q\SERVERS.INI" -> "C:\Q\SERVERS.$$$").
std::string BackupPath(const std::string& path);

// Replaces the file at `path` (Windows-style or native) with the section
// header, "CurrentServer=<currentServer>" and each collected line without its
// first five and last two characters. The new content is written to a
// temporary file in the same folder first; only when that worked is the old
// file kept as the "$$$" backup (an older backup is deleted) and the new one
// moved into place, so a failed write never leaves the program without a
// server list. Returns true when the file was replaced.
bool RewriteServerList(const std::string& path, const std::string& currentServer,
                       const std::vector<std::string>& collectedLines);

}  // namespace zep
