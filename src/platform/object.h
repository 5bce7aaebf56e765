// Run-time class records: a class's name, schema number, base class and a way to
// create an object of it by name. Classes are registered when the library loads
// and unregistered when it unloads.
#pragma once

#include <memory>
#include <string_view>

class CArchive;
class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  unsigned m_wSchema;
  std::unique_ptr<CObject> (*m_pfnCreateObject)();  // null: not creatable
  const CRuntimeClass* m_pBaseClass;

  std::unique_ptr<CObject> CreateObject() const;
  bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const noexcept;
  // The registered class of that name, or null.
  static const CRuntimeClass* FromName(std::string_view strClassName) noexcept;
};

// Keeps one class in the registry for the lifetime of this object.
class CClassRegistration {
 public:
  explicit CClassRegistration(const CRuntimeClass& runtimeClass) noexcept;
  ~CClassRegistration();
  CClassRegistration(const CClassRegistration&) = delete;
  CClassRegistration& operator=(const CClassRegistration&) = delete;

 private:
  friend struct CRuntimeClass;
  const CRuntimeClass& m_class;
  CClassRegistration* m_pNext;
};

class CObject {
 public:
  static const CRuntimeClass classCObject;

  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const {}
  virtual void Dump() const {}
};
