// user_record.hpp - the console player's user description and the texts it
// reads from other players (internal to lobbybot). The record is built
// exactly as the lobby client builds its own, so that the bot is listed and
// searched like any person.
#pragma once

#include <string>
#include <string_view>

namespace lobbybot {

struct Profile {
  std::string name;
  std::string description;
  std::string city;
  std::string country;
  std::string age;
  bool female = false;
  std::string email;
};

// "VERSION=0.90b1;REAL=<name>;DESC=<d>;CITY=<c>;COUNTRY=<c>;AGE=<a>;SEX=<0|1>;
// EMAIL=<e>;", every empty field but the name written as "-".
std::string BuildUserRecord(const Profile& profile);

// The value after the first occurrence of key ("REAL=") up to the next ';'
// (or the end), at most 200 characters; empty when the key is absent.
std::string RecordField(std::string_view record, std::string_view key);

// A player id ("10.0.0.5:2003") without its port: what the game engine
// connects to.
std::string AddressOfPlayer(std::string_view playerId);

}  // namespace lobbybot
