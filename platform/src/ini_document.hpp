// ini_document.hpp - internal to the platform layer: one INI file held as its
// lines, so that the profile functions can read a value or change one key and
// write the file back with every other byte as it was (comments, blank
// lines, order, line endings). Kept free of file I/O so that tests and fuzz
// harnesses can drive it with plain strings.
//
// Rules, as the private-profile reader and writer the client was written for:
//  - "[name]" starts a section; blanks around the brackets and around the
//    name are ignored. Lines starting with ';' or '#' are comments. Other
//    lines are "key=value"; a line without '=' is kept but means nothing.
//  - Section and key names match without regard to (ASCII) case; blanks
//    around the names given by the caller are ignored.
//  - Keys before the first section header belong to no section and are
//    never found.
//  - The first matching section and, in it, the first matching key win; a
//    later duplicate is only kept as text.
//  - Values are taken literally apart from surrounding blanks: no quotes are
//    removed and a ';' after the value is part of it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

class IniDocument {
 public:
  IniDocument() = default;

  // Never fails: lines that mean nothing are kept as text.
  static IniDocument Parse(std::string_view text);

  // The value of key in section, without surrounding blanks. The view points
  // into the document: it is valid until the document changes or goes.
  std::optional<std::string_view> Find(std::string_view section,
                                       std::string_view key) const;

  // Replaces the value of the key's line, or appends the key after the last
  // non-blank line of its section (a comment block standing apart above the
  // next header counts as that header's), or appends the section at the end
  // (separated by a blank line). A value is cut at its first line break so
  // that it cannot add lines. Returns false, changing nothing, for a name the
  // reader could not find again (empty, with a line break, a key with '=' or
  // starting like a header or comment, a section with ']').
  bool Set(std::string_view section, std::string_view key,
           std::string_view value);

  // Removes the key's line; returns whether there was one.
  bool EraseKey(std::string_view section, std::string_view key);
  // Removes the section header and every line up to the next header.
  bool EraseSection(std::string_view section);

  std::string Serialize() const;

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\n", "\r\n", or "" for an unterminated last line
  };

  std::optional<std::size_t> FindSection(std::string_view name) const;
  std::size_t SectionEnd(std::size_t header) const;
  std::optional<std::size_t> FindKey(std::size_t header,
                                     std::string_view key) const;
  // Where a new key of the section goes: after its last non-blank line.
  std::size_t AppendPoint(std::size_t header) const;
  // Inserts a line before index at, giving an unterminated line above it an
  // ending first.
  void InsertLine(std::size_t at, std::string text);

  std::vector<Line> lines_;
  // Ending for lines we add: the file's own style, "\n" for a new file.
  std::string eol_ = "\n";
};

}  // namespace platform::detail
