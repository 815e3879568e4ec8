// query_runner.hpp - answering a QUER a slice at a time (internal to
// vossad): a few dozen USER lines, or a few thousand players looked at, per
// loop turn, so that one query of a full server never holds the loop, an
// ABORT is seen between slices, and a slow reader holds a bounded answer,
// not the whole list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection.hpp"
#include "filter.hpp"
#include "platform/event_loop.hpp"
#include "registry.hpp"
#include "server_log.hpp"

namespace vossad {

struct Query {
  std::string app;
  Filter filter;
  std::uint64_t remaining = 0;  // USER lines still allowed
  std::size_t listed = 0;
  std::uint64_t cursor = 0;  // registration number to continue from
  std::string standIn;       // listed_address.hpp
  TimePoint started{};       // when it was taken on, for its latency
};

class QueryRunner {
 public:
  // A query produces its next slice only while less than this waits to be
  // sent.
  static constexpr std::size_t kLowWater = 64 * 1024;

  // afterSlice runs at the end of each slice's loop callback (the server
  // frees what the slice closed).
  QueryRunner(platform::EventLoop& loop, Registry& registry, Connections& connections, ServerLog& log,
              std::function<void()> afterSlice);
  ~QueryRunner();
  QueryRunner(const QueryRunner&) = delete;
  QueryRunner& operator=(const QueryRunner&) = delete;

  // Answers from the next loop turn on, so that an ABORT already on its
  // way is seen between slices.
  void Start(Connection& c, std::unique_ptr<Query> query);
  // Ends the running query with QROK (complete) or QRFL, and logs `how`.
  void Finish(Connection& c, bool complete, const char* how);
  // The reader took some of what waited: a query held back by it goes on.
  void Resume(Connection& c);

 private:
  void Schedule(Connection& c);
  void RunSlice(ConnectionRef ref);
  void Slice(Connection& c);

  platform::EventLoop& loop_;
  Registry& registry_;
  Connections& connections_;
  ServerLog& log_;
  std::function<void()> afterSlice_;
  std::string line_;
  // Slices still queued on the loop when the server goes find it gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vossad
