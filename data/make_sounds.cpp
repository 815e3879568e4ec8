// make_sounds - synthesises the client's wave files (build tool).
//
//   make_sounds OUT_DIR   writes DIAL.WAV, TONE.WAV, BUSY.WAV, REMOTE.WAV and
//                         Zudeduzu.wav into OUT_DIR
//
// All are 16-bit mono PCM at 22,050 Hz. The tones follow the telephone
// cadences players know: a steady dial tone heard once before an offer, a
// double ring while the partner is being asked, a busy tone when the offer is
// declined, a bell for an incoming offer. The music is a short tune that
// loops without a seam. Every looping sound ends where it begins, so the
// loop point makes no click.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

using Samples = std::vector<double>;

Samples Silence(double seconds) { return Samples(static_cast<std::size_t>(seconds * kRate), 0.0); }

// A sum of sines with soft 8 ms edges, so that a burst never clicks.
Samples Tone(std::initializer_list<double> frequencies, double seconds, double level) {
  Samples s = Silence(seconds);
  const double edge = 0.008 * kRate;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    double v = 0;
    for (double f : frequencies) v += std::sin(2 * kPi * f * t);
    v *= level / static_cast<double>(frequencies.size());
    const double fromEnd = static_cast<double>(s.size() - 1 - i);
    v *= std::min({1.0, i / edge, fromEnd / edge});
    s[i] = v;
  }
  return s;
}

void Append(Samples& into, const Samples& more) { into.insert(into.end(), more.begin(), more.end()); }

bool WriteWav(const std::string& path, const Samples& samples) {
  std::ofstream out(path, std::ios::binary);
  if (!out) return false;
  const auto u32 = [&out](std::uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
  };
  const auto u16 = [&out](std::uint16_t v) {
    const char b[2] = {char(v), char(v >> 8)};
    out.write(b, 2);
  };
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  out.write("RIFF", 4);
  u32(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(kRate);
  u32(kRate * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(dataBytes);
  for (double v : samples) {
    // A gentle limiter instead of clipping.
    const double limited = std::tanh(v * 1.2) / std::tanh(1.2);
    u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(limited * 32000))));
  }
  return static_cast<bool>(out);
}

// Once, before the ringing: the line is open.
Samples DialTone() { return Tone({350, 440}, 1.6, 0.45); }

// Double ring: two short bursts, then a pause; loops.
Samples RingingTone() {
  Samples s;
  Append(s, Tone({400, 450}, 0.4, 0.4));
  Append(s, Silence(0.2));
  Append(s, Tone({400, 450}, 0.4, 0.4));
  Append(s, Silence(2.0));
  return s;
}

// Half a second on, half a second off; loops.
Samples BusyTone() {
  Samples s;
  Append(s, Tone({480, 620}, 0.5, 0.45));
  Append(s, Silence(0.5));
  return s;
}

// A telephone bell: a clapper striking twenty times a second on a bell with
// a few inharmonic partials, two rings and a pause; loops.
Samples Bell() {
  Samples s = Silence(3.2);
  const double partials[][2] = {{1.0, 1.0}, {2.76, 0.45}, {5.40, 0.22}, {8.93, 0.1}};
  const double base = 880;
  for (double ringStart : {0.0, 0.55}) {
    for (int strike = 0; strike < 9; ++strike) {
      const double start = ringStart + strike / 20.0;
      for (std::size_t i = 0; i < static_cast<std::size_t>(0.9 * kRate); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const std::size_t at = static_cast<std::size_t>(start * kRate) + i;
        if (at >= s.size()) break;
        double v = 0;
        for (const auto& p : partials) v += p[1] * std::sin(2 * kPi * base * p[0] * t) * std::exp(-t * (4 + 3 * p[0]));
        s[at] += v * 0.11 * std::min(1.0, t / 0.002);
      }
    }
  }
  // The tail of the last strike fades out well before the loop starts over.
  const std::size_t fade = static_cast<std::size_t>(0.3 * kRate);
  for (std::size_t i = 0; i < fade; ++i) s[s.size() - 1 - i] *= static_cast<double>(i) / fade;
  return s;
}

// The tune: four bars in C major at 104 beats a minute, melody over a
// plucked bass and soft chords (C, A minor, F, G). Notes that ring past the
// end of the bar wrap around to the start, so the loop has no seam.
Samples Music() {
  const double beat = 60.0 / 104;
  const int beats = 16;
  Samples s(static_cast<std::size_t>(beats * beat * kRate), 0.0);
  const auto midi = [](double note) { return 440.0 * std::pow(2.0, (note - 69) / 12); };
  // A voice: a few harmonics, a quick attack and an exponential decay.
  const auto voice = [&](double note, double startBeat, double lengthBeats, double level, double brightness,
                         double decay) {
    const double f = midi(note);
    const std::size_t start = static_cast<std::size_t>(startBeat * beat * kRate);
    const std::size_t length = static_cast<std::size_t>((lengthBeats * beat + 0.35) * kRate);
    const double held = lengthBeats * beat;
    for (std::size_t i = 0; i < length; ++i) {
      const double t = static_cast<double>(i) / kRate;
      double env = std::min(1.0, t / 0.012) * std::exp(-t * decay);
      if (t > held) env *= std::exp(-(t - held) * 14);
      const double v = std::sin(2 * kPi * f * t) + brightness * std::sin(4 * kPi * f * t) +
                       brightness * brightness * std::sin(6 * kPi * f * t);
      s[(start + i) % s.size()] += level * env * v;
    }
  };
  struct Note {
    double pitch, start, length;
  };
  const Note melody[] = {
      {76, 0, 1},   {79, 1, 1},  {84, 2, 1.5}, {83, 3.5, 0.5}, {81, 4, 1},  {79, 5, 1},  {76, 6, 2},
      {77, 8, 1},   {81, 9, 1},  {84, 10, 1},  {81, 11, 1},    {79, 12, 1}, {74, 13, 1}, {77, 14, 1},
      {76, 15, 0.5}, {74, 15.5, 0.5},
  };
  for (const Note& n : melody) voice(n.pitch, n.start, n.length, 0.22, 0.35, 2.2);
  const double roots[] = {48, 45, 41, 43};  // C2 A1 F1 G1
  const double chords[][3] = {{60, 64, 67}, {57, 60, 64}, {57, 60, 65}, {59, 62, 67}};
  for (int bar = 0; bar < 4; ++bar) {
    for (int b = 0; b < 4; ++b) voice(roots[bar] + (b == 2 ? 7 : 0), bar * 4 + b, 0.9, 0.2, 0.5, 5);
    for (double pitch : chords[bar]) voice(pitch, bar * 4, 3.8, 0.06, 0.1, 0.6);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sounds OUT_DIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const bool ok = WriteWav(dir + "DIAL.WAV", DialTone()) && WriteWav(dir + "TONE.WAV", RingingTone()) &&
                  WriteWav(dir + "BUSY.WAV", BusyTone()) && WriteWav(dir + "REMOTE.WAV", Bell()) &&
                  WriteWav(dir + "Zudeduzu.wav", Music());
  if (!ok) std::fprintf(stderr, "make_sounds: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
