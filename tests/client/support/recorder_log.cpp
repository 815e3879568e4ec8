// The log, the scripted results and the recording sound output.
#include "call_recorder.hpp"

#include <cstring>

#include "core/sound.hpp"
#include "zep/zep.h"

namespace recorder {

Recorder& R() {
  static Recorder recorder;
  return recorder;
}

void Recorder::Reset() { *this = Recorder{}; }

int Recorder::ResultFor(const std::string& function, int otherwise) const {
  const auto it = results.find(function);
  return it == results.end() ? otherwise : it->second;
}

namespace {
std::string NameOf(const std::string& call) { return call.substr(0, call.find('(')); }
}  // namespace

std::vector<std::string> Recorder::CallsWithout(const std::vector<std::string>& functions) const {
  std::vector<std::string> kept;
  for (const std::string& call : calls) {
    bool drop = false;
    for (const std::string& f : functions) drop = drop || NameOf(call) == f;
    if (!drop) kept.push_back(call);
  }
  return kept;
}

std::vector<std::string> Recorder::CallsOf(const std::string& function) const {
  std::vector<std::string> kept;
  for (const std::string& call : calls)
    if (NameOf(call) == function) kept.push_back(call);
  return kept;
}

std::string Quoted(const char* text) {
  if (text == nullptr) return "null";
  // Appended, not "\"" + ...: GCC 12 warns falsely on the concatenation.
  std::string quoted(1, '"');
  return quoted.append(text).append(1, '"');
}

namespace {

class RecordingSound : public lobby::SoundBackend {
 public:
  void Play(const std::string& path, unsigned flags) override {
    R().calls.push_back("PlaySound(" + Quoted(path.c_str()) + ", " + std::to_string(flags) + ")");
  }
  void Stop() override { R().calls.push_back("StopAllSound()"); }
};

}  // namespace

int Log(const std::string& function, const std::string& arguments) {
  R().calls.push_back(function + "(" + arguments + ")");
  return R().ResultFor(function, ZEP_RET_OK);
}

void CopyCut(char* into, std::size_t size, const std::string& from) {
  const std::size_t n = from.size() < size - 1 ? from.size() : size - 1;
  std::memcpy(into, from.data(), n);
  into[n] = '\0';
}

std::string N(long long value) { return std::to_string(value); }

void InstallRecordingSound() { lobby::SetSoundBackend(std::make_unique<RecordingSound>()); }

}  // namespace recorder
