// description_record.hpp - the user description record, the player id and
// the constants every program that registers with the agent shares: one
// codec linked by the lobby client and the console player, so that the two
// cannot drift apart.
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

// The application name the agent registers under.
inline constexpr const char* kApplicationName = "QORCORVA";
// The message number the agent and the engine post to the notification
// window (a left-button-up, which runs the client's mouse-up handlers).
inline constexpr unsigned kNotifyMessage = 514;

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

// A player id ("10.0.0.5:2003") without its port: what the game engine
// connects to.
std::string AddressOfPlayer(std::string_view playerId);

}  // namespace lobby
