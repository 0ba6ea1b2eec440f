// The watchdog's traces as a trace session sees them: this program's
// providers register with a fake session (Wine's ETW never enables one), the
// test enables one provider at a level and flags, and the events that
// arrive are matched by provider, level and arguments.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wtsapi32.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/trace/zel_trace.h"
#include "support_lib/fake_etw_providers.h"
#include "watchdog/agent/bookkeeping.h"
#include "watchdog/agent/camera_list.h"
#include "watchdog/common/names.h"
#include "watchdog/service/watchdog_service.h"
#include "win32/unique_reg_key.h"

namespace orvo {

using test::Session;

namespace watchdog {
namespace {

// Typed arguments as a message event carries them.
struct Args {
    std::vector<uint8_t> bytes;
    Args& Int32(int32_t v) { return Put(kZelArgInt32, &v, 4); }
    Args& UInt32(uint32_t v) { return Put(kZelArgUInt32, &v, 4); }
    Args& Put(uint8_t type, const void* v, size_t n) {
        bytes.push_back(type);
        bytes.insert(bytes.end(), static_cast<const uint8_t*>(v), static_cast<const uint8_t*>(v) + n);
        return *this;
    }
};

// The message events received since `from` (module information events of
// an enable are left out).
std::vector<std::vector<uint8_t>> Messages(size_t from = 0) {
    std::vector<std::vector<uint8_t>> messages;
    for (size_t i = from; i < Session().events.size(); ++i)
        if (IsEqualGUID(test::EventClass(Session().events[i]), kZelMessageEventGuid))
            messages.push_back(Session().events[i]);
    return messages;
}

bool Carries(const std::vector<uint8_t>& event, const Args& args) {
    return event.size() == kZelMessageEventHeaderBytes + args.bytes.size() &&
           std::memcmp(event.data() + kZelMessageEventHeaderBytes, args.bytes.data(), args.bytes.size()) == 0;
}

// Enables one provider for the scope, the other off.
class Enabled {
public:
    Enabled(const GUID& provider, uint8_t level, uint32_t flags) : m_provider(provider) {
        ZelProviderA();
        ZelProviderB();
        Session().Disable(kZelProviderAGuid);
        Session().Disable(kZelProviderBGuid);
        Session().Enable(provider, level, flags);
    }
    ~Enabled() { Session().Disable(m_provider); }

private:
    GUID m_provider;
};

// --- a capture source that refuses registrations ----------------------------
constexpr int kDeviceId = 7;
int32_t ORVO_CALL OneCameraCount(int* count) {
    *count = 1;
    return ORVO_OK;
}
int32_t ORVO_CALL OneCameraList(uint32_t bytes, DeviceEntry* entries, int* count) {
    if (bytes < sizeof(DeviceEntry)) return ORVO_E_MORE_DATA;
    DeviceEntry e{};
    e.deviceId = kDeviceId;
    e.model = 2;
    wcsncpy(e.product, L"Traced camera", 31);
    entries[0] = e;
    *count = 1;
    return ORVO_OK;
}
HRESULT STDAPICALLTYPE Initialized() { return S_OK; }
HRESULT STDAPICALLTYPE Refuse(const GUID*, const GUID*, UINT32, const wchar_t*) { return E_ACCESSDENIED; }
HRESULT STDAPICALLTYPE Unregistered(const GUID*) { return S_OK; }

void ClearBookkeeping() {
    win32::UniqueRegKey key;
    if (FAILED(OpenBookkeepingKey(key))) return;
    wchar_t name[256];
    DWORD length = 256;
    while (length = 256, RegEnumValueW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name);
}

// A refused registration is an error of provider B under flag 2, with the
// refusal and the camera's device id; a session for provider A, for another
// flag or for fatal errors only hears nothing of it.
TEST(WatchdogTrace, ARefusedRegistrationIsAnErrorOfProviderBUnderFlagTwo) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ClearBookkeeping();
    CameraLibraryEntryPoints library;
    library.GetNumDevices = &OneCameraCount;
    library.GetDeviceList = &OneCameraList;
    CaptureSourceEntryPoints source;
    source.Initialize = &Initialized;
    source.RegisterCamera = &Refuse;
    source.UnregisterCamera = &Unregistered;
    const Args refusal = Args().Int32(E_ACCESSDENIED).Int32(kDeviceId);
    auto scan = [&] {
        const size_t from = Session().events.size();
        CameraList list(library, source);
        list.Scan();
        EXPECT_EQ(0u, list.Count());
        return Messages(from);
    };
    {
        Enabled session(kZelProviderBGuid, kZelLevelError, 2);
        const auto messages = scan();
        int refusals = 0;
        for (const auto& event : messages) {
            EXPECT_EQ(kZelLevelError, test::EventLevel(event));
            refusals += Carries(event, refusal);
        }
        EXPECT_EQ(1, refusals) << messages.size() << " messages";
    }
    {
        Enabled session(kZelProviderAGuid, kZelLevelInformation, 0xFFFFFFFF);
        EXPECT_TRUE(scan().empty());
    }
    {
        Enabled session(kZelProviderBGuid, kZelLevelInformation, ~2u);
        EXPECT_TRUE(scan().empty());
    }
    {
        Enabled session(kZelProviderBGuid, 1, 2);
        EXPECT_TRUE(scan().empty());
    }
    ClearBookkeeping();
    CoUninitialize();
}

class NullHost : public ServiceHost {
public:
    bool RegisterHandler(LPHANDLER_FUNCTION_EX, void*) noexcept override { return true; }
    void ReportStatus(const SERVICE_STATUS&) noexcept override {}
};

DWORD WINAPI RunService(void* service) {
    static_cast<WatchdogService*>(service)->Run();
    return 0;
}

// Sleepers stand in for the agents: 31 sessions fill the wait loop's 64
// handles, and the 32nd session's refusal is an error of provider B naming
// the session and the handles already waited on.
TEST(WatchdogTrace, TheSessionPastSixtyFourHandlesIsTracedAsAnError) {
    const std::wstring bin = test::ExeFolder();
    const std::wstring stage = bin + L"trace sleeper stage\\";
    CreateDirectoryW(stage.c_str(), nullptr);
    CreateDirectoryW((stage + kX86Folder).c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((bin + L"watchdog_sleeper_agent.exe").c_str(), (stage + L"OrvoVistrelWatchdog.exe").c_str(),
                          FALSE));
    ASSERT_TRUE(CopyFileW((bin + L"watchdog_sleeper_agent.exe").c_str(),
                          (stage + kX86Folder + L"\\OrvoVistrelWatchdog.exe").c_str(), FALSE));
    NullHost host;
    WatchdogService service(host, stage + L"OrvoVistrelWatchdog.exe");
    win32::UniqueHandle thread(CreateThread(nullptr, 0, &RunService, &service, 0, nullptr));
    ASSERT_TRUE(thread);
    for (int i = 0; i < 500 && service.Status().dwCurrentState != SERVICE_RUNNING; ++i) Sleep(20);
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), service.Status().dwCurrentState);

    auto logon = [&](DWORD session) {
        WTSSESSION_NOTIFICATION note{sizeof(note), session};
        return service.Control(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &note);
    };
    for (DWORD session = 1; session <= 31; ++session) ASSERT_EQ(static_cast<DWORD>(NO_ERROR), logon(session));
    ASSERT_EQ(31u, service.Sessions().size());
    std::vector<std::vector<uint8_t>> messages;
    {
        Enabled session(kZelProviderBGuid, kZelLevelError, 2);
        const size_t from = Session().events.size();
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), logon(32));
        messages = Messages(from);
    }
    EXPECT_EQ(31u, service.Sessions().size());
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(kZelLevelError, test::EventLevel(messages[0]));
    EXPECT_TRUE(Carries(messages[0], Args().UInt32(32).UInt32(64)));

    service.Control(SERVICE_CONTROL_STOP, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 120000));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.Status().dwCurrentState);
}

}  // namespace
}  // namespace watchdog
}  // namespace orvo
