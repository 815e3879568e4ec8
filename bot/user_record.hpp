// user_record.hpp - the console player's user description and the texts it
// reads from other players (internal to lobbybot). Both go through the
// shared record library, so the bot is listed and searched exactly like
// any person using the lobby client.
#pragma once

#include <string>
#include <string_view>

#include "record/description_record.hpp"

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
// EMAIL=<e>;", every empty field but the name written as "-", as the
// client's main window prepares its own.
std::string BuildUserRecord(const Profile& profile);

// The value after the first occurrence of key ("REAL=") up to the next ';'
// (or the end), at most 200 characters; empty when the key is absent.
inline std::string RecordField(std::string_view record, std::string_view key) {
  return lobby::GetField(record, key);
}

using lobby::AddressOfPlayer;

}  // namespace lobbybot
