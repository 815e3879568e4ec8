#include "record_pool.hpp"

#include <memory>
#include <mutex>
#include <vector>

namespace vossad::detail {

char* NewRecordBlock(std::size_t bytes) {
  // Held from a pointer that is never destroyed: records may be freed
  // during exit, after the statics of this file are gone.
  static std::mutex* const mutex = new std::mutex;
  static std::vector<char*>* const blocks = new std::vector<char*>;
  auto* block = static_cast<char*>(::operator new(bytes, std::align_val_t{kCacheLine}));
  std::lock_guard<std::mutex> lock(*mutex);
  blocks->push_back(block);
  return block;
}

}  // namespace vossad::detail
