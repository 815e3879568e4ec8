// Cost of framing a message and of taking it out of a receive buffer, next
// to a plain memcpy of the same text as the floor. Bytes/s counts text bytes
// in all three, so the figures compare directly. Prints figures only.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_buffer.hpp"
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

// Frames taken one at a time from a receive buffer holding about 1 MiB of
// them, into one reused record as the connections do. Refilling is not
// timed.
void BM_Decode(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  zep::ByteBuffer one;
  zep::AppendFrame(one, MakeText(size), true);
  const std::string frame(one.Readable());
  const std::size_t batch = std::max<std::size_t>(1, (std::size_t{1} << 20) / frame.size());

  zep::ByteBuffer buffer(batch * frame.size());
  zep::FrameStream in = zep::FrameStream::Input(buffer);
  zep::CMsg msg;
  for (auto _ : state) {
    state.PauseTiming();
    buffer.RetrieveAll();
    for (std::size_t i = 0; i < batch; ++i) buffer.Append(frame);
    state.ResumeTiming();
    while (msg.SerializeFrame(in, true)) benchmark::DoNotOptimize(msg.text.data());
  }
  Report(state, batch);
}

BENCHMARK(BM_Memcpy)->Arg(30)->Arg(64 << 10);
BENCHMARK(BM_Encode)->Arg(30)->Arg(64 << 10);
BENCHMARK(BM_Decode)->Arg(30)->Arg(64 << 10);

}  // namespace

BENCHMARK_MAIN();
