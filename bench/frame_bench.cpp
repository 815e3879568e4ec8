// Cost of framing a message and of taking it out of a receive buffer, next
// to a plain memcpy of the same text as the floor. Bytes/s counts text bytes
// throughout, so the figures compare directly. Google Benchmark's own table
// goes to standard error; standard output gets one line per figure (see
// bench_support.hpp).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "bench_support.hpp"

#include "msg.hpp"

namespace {

std::string MakeText(std::size_t n) {
  std::string text(n, '\0');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

void Report(benchmark::State& state, std::size_t messagesPerIteration) {
  const auto messages = static_cast<std::int64_t>(state.iterations() * messagesPerIteration);
  state.SetItemsProcessed(messages);
  state.SetBytesProcessed(messages * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string text = MakeText(static_cast<std::size_t>(state.range(0)));
  std::vector<char> target(text.size());
  for (auto _ : state) {
    std::memcpy(target.data(), text.data(), text.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  Report(state, 1);
}

// One message written into a connection's output buffer, which a socket
// would then drain.
void BM_Encode(benchmark::State& state) {
  zep::CMsg msg(MakeText(static_cast<std::size_t>(state.range(0))));
  zep::ByteBuffer buffer;
  zep::FrameStream out = zep::FrameStream::Output(buffer);
  for (auto _ : state) {
    msg.SerializeFrame(out, true);
    benchmark::DoNotOptimize(buffer.Peek());
    buffer.RetrieveAll();
  }
  Report(state, 1);
}

// A receive buffer holding about 1 MiB of frames of one size, as a burst
// leaves it. Decoding walks through all of it, so its floor is a memcpy of
// the same texts out of the same buffer (a copy of one hot block would stay
// in the nearest cache and flatter the floor).
struct Burst {
  explicit Burst(std::size_t size) {
    zep::ByteBuffer one;
    zep::AppendFrame(one, MakeText(size), true);
    frame.assign(one.Readable());
    header = zep::FrameHeaderSize(size, true);
    count = std::max<std::size_t>(1, (std::size_t{1} << 20) / frame.size());
  }
  void Refill(zep::ByteBuffer& buffer) const {
    buffer.RetrieveAll();
    for (std::size_t i = 0; i < count; ++i) buffer.Append(frame);
  }
  std::string frame;
  std::size_t header = 0;
  std::size_t count = 0;
};

// Frames taken one at a time from the burst, into one reused record as the
// connections do. Refilling is not timed.
void BM_Decode(benchmark::State& state) {
  const Burst burst(static_cast<std::size_t>(state.range(0)));
  zep::ByteBuffer buffer(burst.count * burst.frame.size());
  zep::FrameStream in = zep::FrameStream::Input(buffer);
  zep::CMsg msg;
  for (auto _ : state) {
    state.PauseTiming();
    burst.Refill(buffer);
    state.ResumeTiming();
    while (msg.SerializeFrame(in, true)) benchmark::DoNotOptimize(msg.text.data());
  }
  Report(state, burst.count);
}

// The floor of decoding: each text of the burst copied out of the buffer
// into one reused target, knowing where it is without reading any header.
void BM_MemcpyFromBurst(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const Burst burst(size);
  zep::ByteBuffer buffer(burst.count * burst.frame.size());
  std::vector<char> target(size);
  for (auto _ : state) {
    state.PauseTiming();
    burst.Refill(buffer);
    state.ResumeTiming();
    const char* p = buffer.Peek();
    for (std::size_t i = 0; i < burst.count; ++i, p += burst.frame.size()) {
      std::memcpy(target.data(), p + burst.header, size);
      benchmark::DoNotOptimize(target.data());
      benchmark::ClobberMemory();
    }
  }
  Report(state, burst.count);
}

BENCHMARK(BM_Memcpy)->Arg(30)->Arg(64 << 10);
BENCHMARK(BM_Encode)->Arg(30)->Arg(64 << 10);
BENCHMARK(BM_MemcpyFromBurst)->Arg(30)->Arg(64 << 10);
BENCHMARK(BM_Decode)->Arg(30)->Arg(64 << 10);

struct Rates {
  double items = 0;
  double bytes = 0;
};

// Keeps each benchmark's rates for the figure lines while the usual table
// is written to standard error.
class Collector : public benchmark::ConsoleReporter {
 public:
  Collector() : benchmark::ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      Rates& r = rates[run.benchmark_name()];
      const auto items = run.counters.find("items_per_second");
      const auto bytes = run.counters.find("bytes_per_second");
      // Repetitions, if asked for, keep the best run.
      if (items != run.counters.end() && items->second.value > r.items) {
        r.items = items->second.value;
        r.bytes = bytes != run.counters.end() ? bytes->second.value : 0;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Rates> rates;
};

std::string RateText(const Rates& r, const char* what) {
  const auto scaled = [](double v, const char* unit) {
    const char* prefixes[] = {"", "k", "M", "G"};
    int p = 0;
    while (v >= 1000 && p < 3) {
      v /= 1000;
      ++p;
    }
    return bench::Num(v) + " " + prefixes[p] + unit;
  };
  return scaled(r.items, what) + "/s, " + scaled(r.bytes, "B") + "/s";
}

void PrintFrameFigure(const std::string& figure, const Rates& r, const std::string& baseline, const Rates& base,
                      const std::string& target = "") {
  std::printf("%s: %s | baseline %s: %s | ratio %s%s\n", figure.c_str(), RateText(r, "frames").c_str(),
              baseline.c_str(), RateText(base, "copies").c_str(), bench::Ratio(r.bytes, base.bytes).c_str(),
              target.empty() ? "" : (" | " + target).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Collector collector;
  collector.SetOutputStream(&std::cerr);
  collector.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  auto& r = collector.rates;
  const std::pair<const char*, const char*> sizes[] = {{"30", "30 B"}, {"65536", "64 KiB"}};
  for (const auto& [arg, size] : sizes) {
    const std::string s = std::string("/") + arg;
    if (r.count("BM_Encode" + s) && r.count("BM_Memcpy" + s))
      PrintFrameFigure(std::string("frame encode, ") + size + " text", r["BM_Encode" + s],
                       std::string("memcpy of the ") + size, r["BM_Memcpy" + s]);
  }
  for (const auto& [arg, size] : sizes) {
    const std::string s = std::string("/") + arg;
    if (!r.count("BM_Decode" + s) || !r.count("BM_MemcpyFromBurst" + s)) continue;
    const bool longText = std::string(arg) == "65536";
    const double ratio = r["BM_Decode" + s].bytes / r["BM_MemcpyFromBurst" + s].bytes;
    PrintFrameFigure(std::string("frame decode, ") + size + " text", r["BM_Decode" + s],
                     std::string("memcpy of the ") + size + " out of the same buffer", r["BM_MemcpyFromBurst" + s],
                     longText ? bench::TargetNote("within 2x memcpy's time (ratio >= 0.50)", ratio >= 0.5) : "");
  }
  return 0;
}
