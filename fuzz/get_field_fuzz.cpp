// Harness for GetField, the reader of every record another player sends:
// the first line of the input is the key, the rest the record. Checks what
// a caller relies on: the value is never longer than 200 characters, holds
// no ";", and is exactly what follows the key's first occurrence.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "record/description_record.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  const std::string key = split == std::string::npos ? "REAL=" : input.substr(0, split);
  const std::string text = split == std::string::npos ? input : input.substr(split + 1);
  const std::string value = lobby::GetField(text, key);
  if (value.size() > lobby::kFieldWindow) std::abort();
  if (value.find(';') != std::string::npos) std::abort();
  const std::size_t at = key.empty() ? std::string::npos : text.find(key);
  if (at == std::string::npos) {
    if (!value.empty()) std::abort();
  } else if (text.compare(at + key.size(), value.size(), value) != 0) {
    std::abort();
  }
  return 0;
}
