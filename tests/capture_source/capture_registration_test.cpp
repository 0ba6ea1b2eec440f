// Registration across processes, as in use: a long-lived registrar (the
// stand-in for the session agent) per bitness registers the cameras on the
// bus, and DirectShow applications in other processes list them.
#include <gtest/gtest.h>
#include <objbase.h>

#include "capture_source/capture_rig.h"

namespace orvo::test {
namespace {

class Registrar {
public:
    bool Start(const std::wstring& folder) {
        m_stopName = UniqueName(L"capture_registrar_stop");
        m_stop.reset(::CreateEventW(nullptr, TRUE, FALSE, m_stopName.c_str()));
        return m_stop && m_process.Start(folder + L"camera_registrar.exe", m_stopName);
    }
    // Unregisters its cameras and ends; returns what it printed.
    std::string Stop() {
        ::SetEvent(m_stop.get());
        m_exit = m_process.Wait(60000);
        return m_process.Output();
    }
    int ExitCode() const { return m_exit; }
    ~Registrar() {
        if (m_stop) ::SetEvent(m_stop.get());
    }

private:
    std::wstring m_stopName;
    win32::UniqueHandle m_stop;
    ChildProcess m_process;
    int m_exit = -1;
};

// What a DirectShow application of that folder's bitness lists.
std::string ListedBy(const std::wstring& graphAppFolder) {
    ChildProcess app;
    if (!app.Start(graphAppFolder + L"vcapture.exe", L"list")) return "(not started)";
    app.Wait(60000);
    return app.Output();
}

class CaptureRegistrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override {
        for (const auto& path : plugged) bus.Unplug(path);
    }
    std::wstring Plug(const std::wstring& serial, const std::wstring& product) {
        emu::PluggedDevice device;
        EXPECT_TRUE(bus.Plug(kUsbDeviceInterfaceClass, GeneralCamera(serial, product), &device))
            << Narrow(bus.LastError());
        plugged.push_back(device.path);
        return device.path;
    }
    template <class Done>
    static bool WaitFor(Done done, DWORD ms = 30000) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        while (!done()) {
            if (::GetTickCount64() > deadline) return false;
            win32::WaitPumpingMessages(nullptr, 100);
        }
        return true;
    }

    emu::CEmulatedUsbBus bus;
    std::vector<std::wstring> plugged;
};

TEST_F(CaptureRegistrationTest, PluggedCamerasAreListedAndUnpluggedOnesLeaveNothing) {
    Registrar registrar;
    ASSERT_TRUE(registrar.Start(BinFolder()));
    const std::wstring serial = UniqueSerial(L"R");
    const std::wstring product = L"Registered " + serial;
    std::wstring path = Plug(serial, product);
    ASSERT_TRUE(WaitFor([&] { return CategoryEntries(product).size() == 1; }));
    const std::wstring first = CategoryEntries(product)[0];
    const std::string listed = ListedBy(ExeFolder() + L"graph_app\\");
    EXPECT_NE(listed.find(Narrow(product)), std::string::npos) << listed;

    // regsvr32 neither adds nor removes anything.
    for (const wchar_t* args : {L"/s", L"/u /s"}) {
        ChildProcess regsvr;
        ASSERT_TRUE(regsvr.Start(L"C:\\windows\\system32\\regsvr32.exe",
                                 std::wstring(args) + L" \"" + BinFolder() + L"OrvoVistrel.dll\""));
        EXPECT_EQ(regsvr.Wait(60000), 0) << Narrow(args);
        EXPECT_EQ(CategoryEntries(product), std::vector<std::wstring>{first});
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + first));
    }

    ASSERT_TRUE(bus.Unplug(path));
    plugged.clear();
    ASSERT_TRUE(WaitFor([&] { return CategoryEntries(product).empty(); }));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + first));
    EXPECT_EQ(ListedBy(ExeFolder() + L"graph_app\\").find(Narrow(product)), std::string::npos);

    // Back again: a new CLSID.
    path = Plug(serial, product);
    ASSERT_TRUE(WaitFor([&] { return CategoryEntries(product).size() == 1; }));
    EXPECT_NE(CategoryEntries(product)[0], first);

    const std::string said = registrar.Stop();
    EXPECT_EQ(registrar.ExitCode(), 0) << said;
    EXPECT_NE(said.find("unregistered"), std::string::npos) << said;
    EXPECT_TRUE(CategoryEntries(product).empty());
}

// Registrations of both bitnesses coexist, each seen only by applications of
// its own bitness.
TEST_F(CaptureRegistrationTest, BothBitnessesRegisterTheSameCameraEachForItself) {
    const std::wstring other = OtherArchFolder();
    if (other.empty()) GTEST_SKIP() << "the other architecture's build cannot run here";
    Registrar native, foreign;
    ASSERT_TRUE(native.Start(BinFolder()));
    ASSERT_TRUE(foreign.Start(other));
    const std::wstring serial = UniqueSerial(L"W");
    const std::wstring product = L"Both " + serial;
    Plug(serial, product);
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    ASSERT_TRUE(WaitFor([&] { return CategoryEntries(product).size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return CategoryEntries(product, otherView).size() == 1; }));
    EXPECT_NE(CategoryEntries(product)[0], CategoryEntries(product, otherView)[0]);

    const std::string mine = ListedBy(ExeFolder() + L"graph_app\\");
    const std::string theirs = ListedBy(other + L"graph_app\\");
    for (const std::string* listed : {&mine, &theirs}) {
        const size_t at = listed->find(Narrow(product));
        ASSERT_NE(at, std::string::npos) << *listed;
        EXPECT_EQ(listed->find(Narrow(product), at + 1), std::string::npos) << "listed twice: " << *listed;
    }
    EXPECT_NE(mine.find(Narrow(CategoryEntries(product)[0])), std::string::npos) << mine;
    EXPECT_NE(theirs.find(Narrow(CategoryEntries(product, otherView)[0])), std::string::npos) << theirs;
    native.Stop();
    foreign.Stop();
    EXPECT_TRUE(CategoryEntries(product).empty());
    EXPECT_TRUE(CategoryEntries(product, otherView).empty());
}

}  // namespace
}  // namespace orvo::test
