// runtime_class.hpp - class names known at run time, and creation by name.
// Internal to the zep library.
//
// The transport classes (CMsg, the socket classes, the connection managers,
// CPlayerObject) each carry a RuntimeClass: their name, their base, and a
// factory when an object can be made without arguments. CObject is their
// common root. Each RuntimeClass adds itself to a process-wide list while
// static objects are initialised, so FromName answers for every class whose
// object file is linked in; the transport is therefore built as an OBJECT
// library, which never drops an unreferenced object file.
//
// In a class:      ZEP_DECLARE_RUNTIME_CLASS(CMsg)     (in the body)
// In its source:   ZEP_IMPLEMENT_DYNCREATE(CMsg, CObject)
//              or  ZEP_IMPLEMENT_RUNTIME_CLASS(CFoo, CObject, &MakeFoo)
//              or  ZEP_IMPLEMENT_RUNTIME_CLASS(CFoo, CObject, nullptr)
// (the last form: known by name, but Create() gives null).
#pragma once

#include <memory>

namespace zep {

class CObject;

class RuntimeClass {
 public:
  using Factory = std::unique_ptr<CObject> (*)();

  // Registers the class; meant for static objects made by the macros below.
  RuntimeClass(const char* name, const RuntimeClass* base, Factory factory);
  RuntimeClass(const RuntimeClass&) = delete;
  RuntimeClass& operator=(const RuntimeClass&) = delete;

  const char* name() const { return name_; }
  const RuntimeClass* base() const { return base_; }
  bool IsCreatable() const { return factory_ != nullptr; }

  // A new object of this class, or null when it has no factory or making it
  // failed. Never throws.
  std::unique_ptr<CObject> Create() const noexcept;
  // True when this is `other` or derives from it.
  bool IsDerivedFrom(const RuntimeClass& other) const;

  // The registered class with this exact name, or null.
  static const RuntimeClass* FromName(const char* name);
  // Creates an object of the class with this name; null when unknown.
  static std::unique_ptr<CObject> CreateByName(const char* name);

 private:
  const char* name_;
  const RuntimeClass* base_;
  Factory factory_;
  const RuntimeClass* next_;
};

class CObject {
 public:
  static const RuntimeClass kRuntimeClass;

  virtual ~CObject() = default;
  virtual const RuntimeClass& GetRuntimeClass() const { return kRuntimeClass; }
  bool IsKindOf(const RuntimeClass& cls) const {
    return GetRuntimeClass().IsDerivedFrom(cls);
  }

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};

template <class T>
std::unique_ptr<CObject> CreateDefault() {
  return std::make_unique<T>();
}

}  // namespace zep

#define ZEP_DECLARE_RUNTIME_CLASS(Class)                        \
 public:                                                        \
  static const ::zep::RuntimeClass kRuntimeClass;               \
  const ::zep::RuntimeClass& GetRuntimeClass() const override { \
    return kRuntimeClass;                                       \
  }

// Use at namespace scope, in the namespace of Class.
#define ZEP_IMPLEMENT_RUNTIME_CLASS(Class, Base, factory) \
  const ::zep::RuntimeClass Class::kRuntimeClass{#Class, &Base::kRuntimeClass, factory}

#define ZEP_IMPLEMENT_DYNCREATE(Class, Base) \
  ZEP_IMPLEMENT_RUNTIME_CLASS(Class, Base, &::zep::CreateDefault<Class>)
