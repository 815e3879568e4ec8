// reply_arena.hpp - where hiredis builds the replies of one connection
// (internal to vossad). By default hiredis makes every element of a reply
// with its own malloc and frees them one by one afterwards; a read of the
// fleet's event stream is hundreds of small strings. Here a reply's
// objects are cut from blocks owned by the connection and all let go at
// once when hiredis frees the reply: it builds one reply at a time and
// frees each before it reads the next.
//
// The objects keep hiredis's own redisReply layout, so replies read the
// same. An array longer than kMaxReplyElements, or memory running out,
// is a reader error: the connection drops, as with any broken reply.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

struct redisReader;

namespace vossad {

class ReplyArena {
 public:
  static constexpr std::size_t kMaxReplyElements = 1 << 20;

  ReplyArena() = default;
  ReplyArena(const ReplyArena&) = delete;
  ReplyArena& operator=(const ReplyArena&) = delete;

  // Makes the reader build its replies here. The arena must outlive it.
  void Serve(redisReader* reader);

  // Null when memory runs out.
  void* Allocate(std::size_t bytes);
  // Every object handed out is gone; the first block is kept for the next.
  void Reset();

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;  // of kBlock bytes
  std::size_t used_ = kBlock;                         // of the last; full: none yet
  std::vector<std::unique_ptr<std::byte[]>> large_;   // one object each
};

}  // namespace vossad
