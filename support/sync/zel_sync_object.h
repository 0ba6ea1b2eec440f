// One polymorphic lock interface over process-local critical sections, named
// mutexes shared between processes, and named events. The virtual slots keep
// their order: Lock, Unlock(count, previous), Unlock(), IsKindOf,
// GetClassName, GetName, destructor.
//
// Construction that ends without a kernel object throws the one exception of
// the system: a const char* pointing at kZelSyncFailure.
#pragma once
#include <windows.h>
#include <string>

#include "win32/unique_handle.h"

namespace orvo {

constexpr const char* kZelSyncFailure = "Zel Synchronization Failure";

class CZelSyncObject {
public:
    // A null or empty name is stored as "_Unnamed_CZelSyncObject_"; the
    // kernel object is then unnamed.
    explicit CZelSyncObject(const wchar_t* name);
    CZelSyncObject(const CZelSyncObject&) = delete;
    CZelSyncObject& operator=(const CZelSyncObject&) = delete;

    // True when acquired: waits on the handle; an abandoned mutex counts.
    virtual bool Lock(DWORD timeoutMs);
    // Does nothing in every class of the family.
    virtual bool Unlock(LONG count, LONG* previousCount);
    virtual bool Unlock() = 0;
    // Case-insensitive; null or empty gives false.
    virtual bool IsKindOf(const wchar_t* className) const;
    virtual const wchar_t* GetClassName() const;
    virtual const wchar_t* GetName() const;
    virtual ~CZelSyncObject();

    HANDLE Handle() const noexcept { return m_handle.get(); }

protected:
    // Takes the handle, or throws the construction failure when it is null.
    void AdoptOrThrow(HANDLE handle);

    win32::UniqueHandle m_handle;

private:
    std::wstring m_name;
};

class CZelMutex : public CZelSyncObject {
public:
    // Opens an existing mutex with full access (initiallyOwned then has no
    // effect), else creates it with the shared security attributes, else
    // opens it for SYNCHRONIZE only.
    CZelMutex(bool initiallyOwned, const wchar_t* name);

    using CZelSyncObject::Unlock;
    bool Unlock() override;
    bool IsKindOf(const wchar_t* className) const override;
    const wchar_t* GetClassName() const override;
};

class CZelEvent : public CZelSyncObject {
public:
    CZelEvent(bool initiallySignalled, bool manualReset, const wchar_t* name, SECURITY_ATTRIBUTES* attributes);

    using CZelSyncObject::Unlock;
    // Releasing an event means nothing.
    bool Unlock() override { return true; }

    bool Set() noexcept { return ::SetEvent(Handle()) != FALSE; }
    bool Reset() noexcept { return ::ResetEvent(Handle()) != FALSE; }
};

class CZelCriticalSection : public CZelSyncObject {
public:
    CZelCriticalSection();
    // Blocks until entered; the time-out is ignored.
    bool Lock(DWORD timeoutMs) override;
    using CZelSyncObject::Unlock;
    bool Unlock() override;
    bool IsKindOf(const wchar_t* className) const override;
    const wchar_t* GetClassName() const override;
    ~CZelCriticalSection() override;

private:
    CRITICAL_SECTION m_section;
};

// Scoped holder of a sync object (not owned).
class CZelSingleLock {
public:
    explicit CZelSingleLock(CZelSyncObject* object, bool lockNow = true);
    CZelSingleLock(const CZelSingleLock&) = delete;
    CZelSingleLock& operator=(const CZelSingleLock&) = delete;
    virtual bool IsKindOf(const wchar_t* className) const;
    virtual ~CZelSingleLock();

    bool Lock(DWORD timeoutMs = INFINITE);
    // Releases only what this holder acquired.
    bool Unlock();
    bool IsLocked() const noexcept { return m_acquired; }

private:
    CZelSyncObject* m_object;
    HANDLE m_objectHandle;
    bool m_acquired = false;
};

}  // namespace orvo
