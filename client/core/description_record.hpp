// description_record.hpp - the user description record (internal).
//
// Every player is known to the others by a short text of KEY=value; pairs.
// The client builds its own record from the profile when it registers, and
// reads the records of other players (query results, offers) and the game
// engine's closing message with GetField. There is no quoting: a value may
// hold any character, ";" and "=" included.
#pragma once

#include <string>
#include <string_view>

namespace lobby {

// The profile values a record is built from, as the main window prepares
// them (empty fields other than the name already replaced by "-").
struct Profile {
  std::string realName;
  std::string description;
  std::string city;
  std::string country;
  std::string age;
  std::string sex;  // "0" male, "1" female
  std::string email;
};

// The version the record announces (older than the window titles' version,
// which other players' clients expect).
inline constexpr std::string_view kRecordVersion = "0.90b1";
// GetField looks at no more than this many characters after a key.
inline constexpr std::size_t kFieldWindow = 200;

// VERSION=0.90b1;REAL=..;DESC=..;CITY=..;COUNTRY=..;AGE=..;SEX=..;EMAIL=..;
std::string BuildDescriptionRecord(const Profile& profile);

// The value after the first occurrence of key (passed with its "=") up to the
// next ";" within the following 200 characters; empty when the key is absent.
// The search is an exact substring search, so a key is also found inside an
// earlier value or as the tail of a longer key.
std::string GetField(std::string_view text, std::string_view key);

}  // namespace lobby
