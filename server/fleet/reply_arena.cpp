#include "fleet/reply_arena.hpp"

#include <hiredis/hiredis.h>
#include <hiredis/read.h>

#include <cstring>
#include <new>

namespace vossad {
namespace {

// Each object carries its arena in front, since hiredis frees a reply by
// its pointer alone.
struct Header {
  ReplyArena* arena;
  std::size_t padding;  // keeps the reply 16-byte aligned
};

redisReply* NewReply(const redisReadTask* task, int type) {
  auto* arena = static_cast<ReplyArena*>(task->privdata);
  void* memory = arena->Allocate(sizeof(Header) + sizeof(redisReply));
  if (memory == nullptr) return nullptr;
  auto* header = new (memory) Header{arena, 0};
  auto* reply = new (header + 1) redisReply{};
  reply->type = type;
  if (task->parent != nullptr) {
    // The reader makes the parent first and never lets idx pass its length.
    auto* parent = static_cast<redisReply*>(task->parent->obj);
    parent->element[task->idx] = reply;
  }
  return reply;
}

void* CreateString(const redisReadTask* task, char* text, std::size_t length) {
  auto* arena = static_cast<ReplyArena*>(task->privdata);
  auto* copy = static_cast<char*>(arena->Allocate(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  redisReply* reply = NewReply(task, task->type);
  if (reply == nullptr) return nullptr;
  reply->str = copy;
  reply->len = length;
  return reply;
}

void* CreateArray(const redisReadTask* task, int elements) {
  if (elements < 0 || static_cast<std::size_t>(elements) > ReplyArena::kMaxReplyElements) return nullptr;
  auto* arena = static_cast<ReplyArena*>(task->privdata);
  redisReply** slots = nullptr;
  if (elements > 0) {
    slots = static_cast<redisReply**>(arena->Allocate(sizeof(redisReply*) * static_cast<std::size_t>(elements)));
    if (slots == nullptr) return nullptr;
    std::memset(slots, 0, sizeof(redisReply*) * static_cast<std::size_t>(elements));
  }
  redisReply* reply = NewReply(task, REDIS_REPLY_ARRAY);
  if (reply == nullptr) return nullptr;
  reply->elements = static_cast<std::size_t>(elements);
  reply->element = slots;
  return reply;
}

void* CreateInteger(const redisReadTask* task, long long value) {
  redisReply* reply = NewReply(task, REDIS_REPLY_INTEGER);
  if (reply != nullptr) reply->integer = value;
  return reply;
}

void* CreateNil(const redisReadTask* task) { return NewReply(task, REDIS_REPLY_NIL); }

void FreeReply(void* reply) {
  if (reply == nullptr) return;
  // Only whole replies are freed, one at a time.
  (static_cast<Header*>(reply) - 1)->arena->Reset();
}

redisReplyObjectFunctions kArenaFunctions = {CreateString, CreateArray, CreateInteger, CreateNil, FreeReply};

}  // namespace

void ReplyArena::Serve(redisReader* reader) {
  reader->fn = &kArenaFunctions;
  reader->privdata = this;
}

void* ReplyArena::Allocate(std::size_t bytes) {
  bytes = (bytes + 15) & ~std::size_t{15};
  if (bytes > kBlock / 4) {
    // A big one gets a block of its own, kept until the reset.
    std::unique_ptr<std::byte[]> own(new (std::nothrow) std::byte[bytes]);
    if (own == nullptr) return nullptr;
    large_.push_back(std::move(own));
    return large_.back().get();
  }
  if (used_ + bytes > kBlock) {
    std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[kBlock]);
    if (block == nullptr) return nullptr;
    blocks_.push_back(std::move(block));
    used_ = 0;
  }
  void* memory = blocks_.back().get() + used_;
  used_ += bytes;
  return memory;
}

void ReplyArena::Reset() {
  large_.clear();
  if (blocks_.empty()) return;
  blocks_.resize(1);
  used_ = 0;
}

}  // namespace vossad
