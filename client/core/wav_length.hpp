// wav_length.hpp - how long a wave file plays, from its header (internal).
//
// A synchronous sound returns when the sound has ended; the sound output
// never says when that is, so the client takes the length from the file's
// RIFF header (the format chunk's byte rate and the data chunk's size).
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace lobby {

// The playing time of a PCM wave file at a native path. Empty when the file
// is missing or is not a wave file a player would accept. A data chunk that
// claims more bytes than the file holds counts only what is there, so a
// damaged header never makes the caller wait longer than the sound.
std::optional<std::chrono::milliseconds> WavLength(const std::string& nativePath);

}  // namespace lobby
