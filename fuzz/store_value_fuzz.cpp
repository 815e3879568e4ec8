// libFuzzer harness: a player's value as read from the fleet's store, which
// anyone who reaches Redis can write. A value either fails to read, or reads
// into fields within the wire's bounds that, written again, read back the
// same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fleet/store_records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto stored = vossad::DecodeValue(text);
  if (!stored) return 0;
  if (stored->app.size() > vossad::kMaxStoredField || stored->own.size() > vossad::kMaxStoredField ||
      stored->description.size() > vossad::kMaxStoredDescription || !vossad::ValidInstanceName(stored->owner))
    __builtin_trap();
  const std::string again = std::to_string(stored->serial) + "\n" + stored->owner + "\n" +
                            (stored->inGame ? "1" : "0") + "\n" +
                            vossad::EncodeRecord(stored->app, stored->own, stored->description);
  const auto reread = vossad::DecodeValue(again);
  if (!reread || reread->serial != stored->serial || reread->description != stored->description ||
      reread->app != stored->app || reread->own != stored->own)
    __builtin_trap();
  return 0;
}
