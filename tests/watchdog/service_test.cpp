// The shipped executable as a real service: installed from a folder whose
// path has a blank, started, its clean-up runs at start, stopped.
#include <gtest/gtest.h>

#include <objbase.h>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "watchdog/agent/bookkeeping.h"
#include "watchdog/common/names.h"
#include "win32/unique_handle.h"
#include "win32/unique_reg_key.h"

namespace orvo::watchdog {
namespace {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE h = nullptr) : m_h(h) {}
    ~ServiceHandle() {
        if (m_h) CloseServiceHandle(m_h);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    SC_HANDLE m_h;
};

bool Copy(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0; }

const wchar_t* FakeKey(bool x86) {
    return x86 ? L"Software\\OrvoTest\\FakeCaptureSource\\x86" : L"Software\\OrvoTest\\FakeCaptureSource\\x64";
}

// A registration left behind: its bookkeeping value and the stand-in
// capture source's record of it.
std::wstring PlantStale(DWORD session, bool x86) {
    GUID clsid;
    CoCreateGuid(&clsid);
    wchar_t name[40];
    StringFromGUID2(clsid, name, 40);
    win32::UniqueRegKey key;
    EXPECT_TRUE(SUCCEEDED(OpenBookkeepingKey(key)));
    const BookkeepingEntry entry{session, x86 ? kBookkeepingWow64Flag : 0};
    RegSetValueExW(key.get(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&entry), sizeof(entry));
    win32::UniqueRegKey fake;
    RegCreateKeyExW(HKEY_CURRENT_USER, FakeKey(x86), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, fake.put(), nullptr);
    RegSetValueExW(fake.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Stale"), 12);
    return name;
}

bool ValueExists(HKEY root, const wchar_t* path, const std::wstring& name, REGSAM view = 0) {
    win32::UniqueRegKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return false;
    return RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        Sleep(100);
    }
    return true;
}

TEST(WatchdogService, StartCleansUpStopReportsStopped) {
    const std::wstring bin = test::ExeFolder();
    const std::wstring stage = bin + L"service stage\\";
    CreateDirectoryW(stage.c_str(), nullptr);
    ASSERT_TRUE(Copy(bin + L"OrvoVistrelWatchdog.exe", stage + L"OrvoVistrelWatchdog.exe"));
    ASSERT_TRUE(Copy(bin + L"fake_OrvoVistrel.dll", stage + L"OrvoVistrel.dll"));
    const std::wstring other = test::OtherArchFolder();
    bool haveX86 = false;
    if (!other.empty()) {
        CreateDirectoryW((stage + L"x86").c_str(), nullptr);
        haveX86 = Copy(other + L"OrvoVistrelWatchdog.exe", stage + L"x86\\OrvoVistrelWatchdog.exe") &&
                  Copy(other + L"fake_OrvoVistrel.dll", stage + L"x86\\OrvoVistrel.dll");
    }

    CoInitialize(nullptr);
    std::vector<std::wstring> native, wow64;
    for (DWORD session : {1u, 2u, 9u}) {
        native.push_back(PlantStale(session, false));
        wow64.push_back(PlantStale(session, true));
    }

    ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(scm);
    {
        ServiceHandle old(OpenServiceW(scm.get(), kServiceName, SERVICE_ALL_ACCESS));
        if (old) {
            SERVICE_STATUS status{};
            ControlService(old.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(old.get());
        }
    }
    const std::wstring binPath = L"\"" + stage + L"OrvoVistrelWatchdog.exe\"";
    ServiceHandle service(CreateServiceW(scm.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         binPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << GetLastError();
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    EXPECT_TRUE(WaitUntil(30000, [&] {
        return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
    }));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE),
              status.dwControlsAccepted);

    // The clean-up runs remove stale values of every session, each of its
    // own bitness, and have the capture source forget them.
    EXPECT_TRUE(WaitUntil(60000, [&] {
        for (const auto& name : native)
            if (ValueExists(HKEY_LOCAL_MACHINE, kBookkeepingKey, name, KEY_WOW64_64KEY)) return false;
        return true;
    }));
    for (const auto& name : native) EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, FakeKey(false), name));
    if (haveX86) {
        EXPECT_TRUE(WaitUntil(60000, [&] {
            for (const auto& name : wow64)
                if (ValueExists(HKEY_LOCAL_MACHINE, kBookkeepingKey, name, KEY_WOW64_64KEY)) return false;
            return true;
        }));
        for (const auto& name : wow64) EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, FakeKey(true), name));
    }

    // Session changes are refused by the platform's ControlService, as on Windows.
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_SESSIONCHANGE, &status));

    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(WaitUntil(30000, [&] {
        return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
    }));
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), status.dwWin32ExitCode);
    EXPECT_FALSE(FindWindowW(nullptr, kNativeWindowTitle));
    EXPECT_FALSE(FindWindowW(nullptr, kWow64WindowTitle));
    DeleteService(service.get());
    CoUninitialize();
}

}  // namespace
}  // namespace orvo::watchdog
