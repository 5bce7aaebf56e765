#include "platform/object.h"

#include <string_view>

namespace {
// Registrations live in static storage; the list is built during library
// start-up, before any call can look a class up.
CClassRegistration* g_pFirstClass = nullptr;
}  // namespace

const CRuntimeClass CObject::classCObject{"CObject", 0xFFFF, nullptr, nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }

void CObject::Serialize(CArchive&) {}

std::unique_ptr<CObject> CRuntimeClass::CreateObject() const {
  return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const noexcept {
  for (const CRuntimeClass* pClass = this; pClass; pClass = pClass->m_pBaseClass)
    if (pClass == pBaseClass) return true;
  return false;
}

const CRuntimeClass* CRuntimeClass::FromName(std::string_view strClassName) noexcept {
  for (const CClassRegistration* pReg = g_pFirstClass; pReg; pReg = pReg->m_pNext)
    if (strClassName == pReg->m_class.m_lpszClassName) return &pReg->m_class;
  return nullptr;
}

CClassRegistration::CClassRegistration(const CRuntimeClass& runtimeClass) noexcept
    : m_class(runtimeClass), m_pNext(g_pFirstClass) {
  g_pFirstClass = this;
}

CClassRegistration::~CClassRegistration() {
  for (CClassRegistration** ppReg = &g_pFirstClass; *ppReg; ppReg = &(*ppReg)->m_pNext) {
    if (*ppReg == this) {
      *ppReg = m_pNext;
      break;
    }
  }
}
