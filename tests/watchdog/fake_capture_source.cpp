// A stand-in for the capture source's three exports, for session tests that
// need agents to start: registrations are kept as values of
// HKCU\Software\OrvoTest\FakeCaptureSource\<bitness> (CLSID = name).
#include <windows.h>
#include <objbase.h>

namespace {

const wchar_t* Key() { return sizeof(void*) == 8 ? L"Software\\OrvoTest\\FakeCaptureSource\\x64" : L"Software\\OrvoTest\\FakeCaptureSource\\x86"; }

HRESULT Write(const GUID* clsid, const wchar_t* name) {
    if (!clsid) return E_POINTER;
    wchar_t text[40];
    StringFromGUID2(*clsid, text, 40);
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(HKEY_CURRENT_USER, Key(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
    if (name) {
        error = RegSetValueExW(key, text, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                               static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t)));
    } else {
        error = RegDeleteValueW(key, text);
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(error);
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE Initialize() { return S_OK; }
extern "C" HRESULT STDAPICALLTYPE RegisterCamera(const GUID* clsid, const GUID*, UINT32, const wchar_t* name) {
    return name ? Write(clsid, name) : E_POINTER;
}
extern "C" HRESULT STDAPICALLTYPE UnregisterCamera(const GUID* clsid) { return Write(clsid, nullptr); }
