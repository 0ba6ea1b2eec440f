// The COM identity pieces of our base classes: the non-delegating IUnknown
// that a creation for IID_IUnknown hands out, and the process-wide count of
// live objects behind DllCanUnloadNow.
#pragma once
#include <windows.h>
#include <unknwn.h>

namespace orvo::dshow {

// Same vtable shape as IUnknown, so it can be handed out as one.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Class factories, filters and pins raise it while they exist.
LONG LiveObjectCount() noexcept;
void AddLiveObject() noexcept;
void RemoveLiveObject() noexcept;

// Raises the live-object count for the lifetime of its owner.
class CLiveObject {
public:
    CLiveObject() noexcept { AddLiveObject(); }
    CLiveObject(const CLiveObject&) = delete;
    CLiveObject& operator=(const CLiveObject&) = delete;
    ~CLiveObject() { RemoveLiveObject(); }
};

// Hands out `object` as the interface asked for, with a reference.
template <class I>
HRESULT GetInterface(I* object, void** out) noexcept {
    object->AddRef();
    *out = object;
    return S_OK;
}

}  // namespace orvo::dshow
