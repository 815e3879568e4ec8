#include "query_runner.hpp"

#include "listed_address.hpp"

#include <array>

namespace vossad {
namespace {

constexpr std::size_t kSliceLines = 64;
// Players looked at per slice, so that a query matching few of them does not
// hold the loop for a whole scan of a full server.
constexpr std::size_t kSliceScan = 4096;
// Players taken from the registry at a time.
constexpr std::size_t kScanBatch = 64;
// How many players ahead a scan asks for a record, and for the description
// of a record asked for before: fetched while the players before them are
// looked at, instead of waited for one after the other.
constexpr std::size_t kRecordsAhead = 8;
constexpr std::size_t kDescriptionsAhead = 4;

}  // namespace

QueryRunner::QueryRunner(platform::EventLoop& loop, Registry& registry, Connections& connections,
                         ServerLog& log, std::function<void()> afterSlice)
    : loop_(loop), registry_(registry), connections_(connections), log_(log), afterSlice_(std::move(afterSlice)) {}

QueryRunner::~QueryRunner() { *alive_ = false; }

void QueryRunner::Start(Connection& c, std::unique_ptr<Query> query) {
  Increment(connections_.metrics().queries);
  query->started = Clock::now();
  c.query = std::move(query);
  Schedule(c);
}

void QueryRunner::Schedule(Connection& c) {
  if (c.sliceQueued) return;
  c.sliceQueued = true;
  loop_.RunInLoop([this, ref = c.ref, alive = alive_] {
    if (!*alive) return;
    RunSlice(ref);
    afterSlice_();
  });
}

void QueryRunner::Resume(Connection& c) {
  if (!c.closed && c.query && !c.sliceQueued && c.PendingOutput() < kLowWater) Schedule(c);
}

void QueryRunner::RunSlice(ConnectionRef ref) {
  Connection* c = connections_.Find(ref);
  if (c == nullptr) return;
  c->sliceQueued = false;
  if (!c->query) return;
  // A reader that is behind is resumed by its writability (Resume).
  if (c->PendingOutput() >= kLowWater) return;
  Slice(*c);
  if (c->closed) return;
  if (c->query) Schedule(*c);
  connections_.Flush(*c);
}

void QueryRunner::Slice(Connection& c) {
  Query& q = *c.query;
  std::size_t sent = 0;
  std::size_t examined = 0;
  bool reachedMax = false;
  bool pause = false;
  std::array<const Player*, kScanBatch> batch;
  for (;;) {
    const std::size_t found = registry_.ScanFrom(q.cursor, batch);
    for (std::size_t i = 0; i < found && !reachedMax && !pause; ++i) {
      if (i + kRecordsAhead < found) __builtin_prefetch(batch[i + kRecordsAhead]);
      if (i + kDescriptionsAhead < found) batch[i + kDescriptionsAhead]->description.Prefetch();
      const Player& player = *batch[i];
      q.cursor = player.serial + 1;
      pause = ++examined >= kSliceScan;
      // The checks in the order of what they read: the record's first
      // cache line, the description, then the rest of the record.
      if (player.inGame || !SameBytes(player.app, q.app) || !q.filter.Matches(player.description) ||
          player.connection == c.ref) {
        continue;
      }
      line_.assign("USER ID=");
      AppendListedId(line_, player.id, q.standIn);
      line_ += ";OWN=";
      line_ += player.own;
      line_ += ';';
      line_ += player.description.text();
      connections_.Send(c, line_);
      if (c.closed) return;  // the players in the batch may be gone with it
      ++q.listed;
      ++sent;
      if (--q.remaining == 0) reachedMax = true;
      pause = pause || sent == kSliceLines;
    }
    if (reachedMax || pause || found < batch.size()) break;
  }
  // A scan that did not pause went past the last player.
  if (reachedMax || !pause) Finish(c, true, "answered");
}

void QueryRunner::Finish(Connection& c, bool complete, const char* how) {
  const std::unique_ptr<Query> query = std::move(c.query);
  connections_.Send(c, complete ? "QROK" : "QRFL");
  connections_.metrics().queryLatency.Observe(Clock::now() - query->started);
  log_.Write(c.peer.s_addr, c.player != nullptr ? c.player->id : Who(c), "query for APP=%s %s: %zu listed, %s",
             Printable(query->app).c_str(), how, query->listed, complete ? "QROK" : "QRFL");
}

}  // namespace vossad
