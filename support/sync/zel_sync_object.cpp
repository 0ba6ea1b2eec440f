#include "support/sync/zel_sync_object.h"

#include <cwchar>

#include "support/sync/shared_security.h"

namespace orvo {
namespace {

constexpr const wchar_t* kSyncObjectClass = L"CZelSyncObject";
constexpr const wchar_t* kMutexClass = L"CZelMutex";
constexpr const wchar_t* kCriticalSectionClass = L"CZelCriticalSection";
constexpr const wchar_t* kSingleLockClass = L"CZelSingleLock";

bool HasName(const wchar_t* name) noexcept { return name && name[0] != L'\0'; }

bool NameIs(const wchar_t* name, const wchar_t* className) noexcept {
    return HasName(name) && ::lstrcmpiW(name, className) == 0;
}

}  // namespace

// --- CZelSyncObject ---------------------------------------------------------

CZelSyncObject::CZelSyncObject(const wchar_t* name) {
    if (HasName(name)) {
        m_name = name;
    } else {
        wchar_t unnamed[MAX_PATH];
        std::swprintf(unnamed, MAX_PATH, L"_Unnamed_%ls_", kSyncObjectClass);
        m_name = unnamed;
    }
}

CZelSyncObject::~CZelSyncObject() = default;

bool CZelSyncObject::Lock(DWORD timeoutMs) {
    if (!m_handle) return false;
    const DWORD result = ::WaitForSingleObject(m_handle.get(), timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool CZelSyncObject::Unlock(LONG, LONG*) { return true; }

bool CZelSyncObject::IsKindOf(const wchar_t* className) const { return NameIs(className, kSyncObjectClass); }

const wchar_t* CZelSyncObject::GetClassName() const { return kSyncObjectClass; }

const wchar_t* CZelSyncObject::GetName() const { return m_name.c_str(); }

void CZelSyncObject::AdoptOrThrow(HANDLE handle) {
    if (!handle) throw kZelSyncFailure;
    m_handle.reset(handle);
}

// --- CZelMutex --------------------------------------------------------------

CZelMutex::CZelMutex(bool initiallyOwned, const wchar_t* name) : CZelSyncObject(name) {
    HANDLE handle = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name);
    if (!handle) {
        SharedSecurityAttributes attributes;
        handle = ::CreateMutexW(attributes.get(), initiallyOwned ? TRUE : FALSE, name);
    }
    // The mutex may exist with a descriptor that grants us no more than the
    // right to wait on it, which is all a lock needs.
    if (!handle) handle = ::OpenMutexW(SYNCHRONIZE, FALSE, name);
    AdoptOrThrow(handle);
}

bool CZelMutex::Unlock() { return ::ReleaseMutex(Handle()) != FALSE; }

bool CZelMutex::IsKindOf(const wchar_t* className) const {
    return NameIs(className, kMutexClass) || CZelSyncObject::IsKindOf(className);
}

const wchar_t* CZelMutex::GetClassName() const { return kMutexClass; }

// --- CZelEvent --------------------------------------------------------------

CZelEvent::CZelEvent(bool initiallySignalled, bool manualReset, const wchar_t* name, SECURITY_ATTRIBUTES* attributes)
    : CZelSyncObject(name) {
    AdoptOrThrow(::CreateEventW(attributes, manualReset ? TRUE : FALSE, initiallySignalled ? TRUE : FALSE, name));
}

// --- CZelCriticalSection ----------------------------------------------------

CZelCriticalSection::CZelCriticalSection() : CZelSyncObject(nullptr) { ::InitializeCriticalSection(&m_section); }

CZelCriticalSection::~CZelCriticalSection() { ::DeleteCriticalSection(&m_section); }

bool CZelCriticalSection::Lock(DWORD) {
    ::EnterCriticalSection(&m_section);
    return true;
}

bool CZelCriticalSection::Unlock() {
    ::LeaveCriticalSection(&m_section);
    return true;
}

bool CZelCriticalSection::IsKindOf(const wchar_t* className) const {
    return NameIs(className, kCriticalSectionClass) || CZelSyncObject::IsKindOf(className);
}

const wchar_t* CZelCriticalSection::GetClassName() const { return kCriticalSectionClass; }

// --- CZelSingleLock ---------------------------------------------------------

CZelSingleLock::CZelSingleLock(CZelSyncObject* object, bool lockNow)
    : m_object(object), m_objectHandle(object ? object->Handle() : nullptr) {
    if (lockNow) Lock(INFINITE);
}

CZelSingleLock::~CZelSingleLock() { Unlock(); }

bool CZelSingleLock::IsKindOf(const wchar_t* className) const {
    return NameIs(className, kSingleLockClass);
}

bool CZelSingleLock::Lock(DWORD timeoutMs) {
    m_acquired = m_object && m_object->Lock(timeoutMs);
    return m_acquired;
}

bool CZelSingleLock::Unlock() {
    if (!m_acquired) return true;
    if (m_object->Unlock()) m_acquired = false;
    return !m_acquired;
}

}  // namespace orvo
