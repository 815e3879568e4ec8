#include "runtime_class.hpp"

#include <cstring>

namespace zep {
namespace {

// Constant-initialised, so it is valid before any RuntimeClass constructor
// runs, whatever the order of static initialisation across files.
const RuntimeClass* gFirstClass = nullptr;

}  // namespace

const RuntimeClass CObject::kRuntimeClass{"CObject", nullptr, nullptr};

RuntimeClass::RuntimeClass(const char* name, const RuntimeClass* base,
                           Factory factory)
    : name_(name), base_(base), factory_(factory), next_(gFirstClass) {
  // Registration happens during static initialisation, before any thread of
  // ours exists, so the list needs no lock.
  gFirstClass = this;
}

std::unique_ptr<CObject> RuntimeClass::Create() const noexcept {
  if (factory_ == nullptr) return nullptr;
  try {
    return factory_();
  } catch (...) {
    // Callers reach this from code paths that must not throw (the C API).
    return nullptr;
  }
}

bool RuntimeClass::IsDerivedFrom(const RuntimeClass& other) const {
  for (const RuntimeClass* c = this; c != nullptr; c = c->base_) {
    if (c == &other) return true;
  }
  return false;
}

const RuntimeClass* RuntimeClass::FromName(const char* name) {
  if (name == nullptr) return nullptr;
  for (const RuntimeClass* c = gFirstClass; c != nullptr; c = c->next_) {
    if (std::strcmp(c->name_, name) == 0) return c;
  }
  return nullptr;
}

std::unique_ptr<CObject> RuntimeClass::CreateByName(const char* name) {
  const RuntimeClass* cls = FromName(name);
  return cls != nullptr ? cls->Create() : nullptr;
}

}  // namespace zep
