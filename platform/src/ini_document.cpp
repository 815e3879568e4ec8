// ini_document.cpp - the INI line model behind the profile functions.
#include "ini_document.hpp"

namespace platform::detail {
namespace {

enum class Kind { Blank, Comment, Section, Key, Other };

struct Classified {
  Kind kind;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // key value, trimmed
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

Classified Classify(std::string_view text) {
  std::string_view t = Trim(text);
  if (t.empty()) return {Kind::Blank, {}, {}};
  if (t.front() == ';' || t.front() == '#') return {Kind::Comment, {}, {}};
  if (t.front() == '[') {
    // A header without its ']' names no section; its keys then stay with
    // the section before, which is what the reader we mirror does too.
    std::size_t close = t.find(']');
    if (close == std::string_view::npos) return {Kind::Other, {}, {}};
    return {Kind::Section, Trim(t.substr(1, close - 1)), {}};
  }
  std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return {Kind::Other, {}, {}};
  std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return {Kind::Other, {}, {}};
  return {Kind::Key, key, Trim(t.substr(eq + 1))};
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  bool style_seen = false;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      const bool crlf = nl > 0 && text[nl - 1] == '\r';
      const std::size_t end = crlf ? nl - 1 : nl;
      line.eol = std::string_view(crlf ? "\r\n" : "\n");
      line.text = std::string(text.substr(0, end));
      text.remove_prefix(nl + 1);
      if (!style_seen) {
        doc.eol_ = line.eol;
        style_seen = true;
      }
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::optional<std::size_t> IniDocument::FindSection(
    std::string_view name) const {
  name = Trim(name);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Classified c = Classify(lines_[i].text);
    if (c.kind == Kind::Section && EqualNoCase(c.name, name)) return i;
  }
  return std::nullopt;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  for (std::size_t i = header + 1; i < lines_.size(); ++i)
    if (Classify(lines_[i].text).kind == Kind::Section) return i;
  return lines_.size();
}

std::optional<std::size_t> IniDocument::FindKey(std::size_t header,
                                                std::string_view key) const {
  key = Trim(key);
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    Classified c = Classify(lines_[i].text);
    if (c.kind == Kind::Key && EqualNoCase(c.name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string_view> IniDocument::Find(std::string_view section,
                                                  std::string_view key) const {
  std::optional<std::size_t> header = FindSection(section);
  if (!header) return std::nullopt;
  std::optional<std::size_t> at = FindKey(*header, key);
  if (!at) return std::nullopt;
  return Classify(lines_[*at].text).value;
}

void IniDocument::InsertLine(std::size_t at, std::string text) {
  if (at > 0 && lines_[at - 1].eol.empty()) {
    // An unterminated line that ends in a carriage return would lose it to
    // a plain "\n" (the pair reads as one CRLF ending): it gets "\r\n".
    Line &above = lines_[at - 1];
    above.eol = !above.text.empty() && above.text.back() == '\r' ? "\r\n" : eol_;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                Line{std::move(text), eol_});
}

bool IniDocument::Set(std::string_view section, std::string_view key,
                      std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || HasLineBreak(section) ||
      section.find(']') != std::string_view::npos)
    return false;
  if (key.empty() || HasLineBreak(key) ||
      key.find('=') != std::string_view::npos || key.front() == '[' ||
      key.front() == ';' || key.front() == '#')
    return false;
  value = value.substr(0, value.find_first_of("\r\n"));

  std::optional<std::size_t> header = FindSection(section);
  if (!header) {
    if (!lines_.empty() && Classify(lines_.back().text).kind != Kind::Blank)
      InsertLine(lines_.size(), "");
    std::string headerLine(1, '[');
    headerLine.append(section).push_back(']');
    InsertLine(lines_.size(), std::move(headerLine));
    InsertLine(lines_.size(), std::string(key) + "=" + std::string(value));
    return true;
  }
  if (std::optional<std::size_t> at = FindKey(*header, key)) {
    // Keep the line's own spelling of the key and its layout up to '='.
    std::string &text = lines_[*at].text;
    text.erase(text.find('=') + 1);
    text.append(value);
    return true;
  }
  InsertLine(AppendPoint(*header),
             std::string(key) + "=" + std::string(value));
  return true;
}

std::size_t IniDocument::AppendPoint(std::size_t header) const {
  const std::size_t end = SectionEnd(header);
  auto last_non_blank = [&](std::size_t before) {
    std::size_t last = header;
    for (std::size_t i = header + 1; i < before; ++i)
      if (Classify(lines_[i].text).kind != Kind::Blank) last = i;
    return last;
  };
  std::size_t last = last_non_blank(end);
  if (end < lines_.size()) {
    // Comments that close the section, set apart from its keys by a blank
    // line, are the heading of the next section: the key goes above them.
    std::size_t j = last;
    while (j > header && Classify(lines_[j].text).kind == Kind::Comment) --j;
    if (j < last && Classify(lines_[j].text).kind == Kind::Blank)
      last = last_non_blank(j);
  }
  return last + 1;
}

bool IniDocument::EraseKey(std::string_view section, std::string_view key) {
  std::optional<std::size_t> header = FindSection(section);
  if (!header) return false;
  std::optional<std::size_t> at = FindKey(*header, key);
  if (!at) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
  return true;
}

bool IniDocument::EraseSection(std::string_view section) {
  std::optional<std::size_t> header = FindSection(section);
  if (!header) return false;
  std::size_t end = SectionEnd(*header);
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*header),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
  return true;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line &line : lines_) {
    out += line.text;
    out += line.eol;
  }
  return out;
}

}  // namespace platform::detail
