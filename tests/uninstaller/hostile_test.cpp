// A temporary folder, current directory and program folder full of planted
// files: the elevated engine runs and loads none of them. Also the single
// instance and the administrator check.
#include <gtest/gtest.h>

#include <set>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

namespace {

const std::wstring kPlantedMarker = L"C:\\orvo_test\\planted_ran.txt";

}  // namespace

TEST(Hostile, PlantedProgramsAndModulesNeverRun) {
    StubScript stub;
    ::DeleteFileW(kPlantedMarker.c_str());
    Uninstaller uninstaller(L"Hostile");
    const std::wstring temp = TempFolder();
    const std::wstring cwd = L"C:\\orvo_test\\hostile cwd\\";
    ::CreateDirectoryW(cwd.c_str(), nullptr);
    const std::wstring stubExe = StubPath();
    std::vector<std::wstring> planted = {temp + L"msiexec.exe", cwd + L"msiexec.exe", uninstaller.Folder() + L"msiexec.exe",
                                         temp + L"MsiZap.exe"};
    for (const auto& path : planted) ASSERT_TRUE(::CopyFileW(stubExe.c_str(), path.c_str(), FALSE));
    const std::wstring plantedDll = temp + L"InstallationBootstrapperLang" + PackageName() + L".dll";
    ASSERT_TRUE(::CopyFileW((ExeFolder() + L"orvo_uninstaller_planted.dll").c_str(), plantedDll.c_str(), FALSE));
    planted.push_back(plantedDll);
    // A planted settings copy would run the stub.
    WriteText(temp + L"Settings.ini", TypeSection("Silent", "Stub", "", false) + StubSection("Stub"));
    planted.push_back(temp + L"Settings.ini");

    const auto before = RunFolders();
    uninstaller.Settings(TypeSection("Silent", "Gone", "", false) +
                         MsiSection("Gone", L"{A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7AFE}"));
    EXPECT_EQ(0, uninstaller.Run(L"/Type Silent", cwd));
    EXPECT_TRUE(stub.Starts().empty());
    EXPECT_FALSE(Exists(kPlantedMarker));
    EXPECT_NE(std::string::npos, Log().find("msiexec.exe /x {A7E3C1D0-5B2F-4E61-8C9A-3D4B5E6F7AFE}"));
    EXPECT_TRUE(NewRunFolder(before).empty());  // removed at exit
    for (const auto& path : planted) ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(cwd.c_str());
}

TEST(Hostile, AWaitingRunsSettingsRefuseWriters) {
    HANDLE blocked = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubBlocked");
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"OrvoStubRelease");
    ::ResetEvent(blocked);
    ::ResetEvent(release);
    StubScript stub(L"block");
    Uninstaller uninstaller(L"Waiting");
    uninstaller.Settings(TypeSection("Silent", "Stub", "", false) + StubSection("Stub"));
    const auto before = RunFolders();
    ASSERT_TRUE(uninstaller.Start(L"/Type Silent"));
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(blocked, 120000));
    const std::wstring folder = NewRunFolder(before);
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(Exists(folder + L"Settings.ini"));
    HANDLE writer = ::CreateFileW((folder + L"Settings.ini").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    // A second instance meanwhile: refused with message 75 (silent: no box).
    Uninstaller second(L"Second");
    second.Settings(TypeSection("default", "Stub", "", false) + StubSection("Stub"));
    Clicker clicker({{L"Installation Error", IDOK}});
    EXPECT_EQ(13, second.Run(L""));
    EXPECT_TRUE(clicker.SawText(L"Another installation is already in progress."));
    ::SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(uninstaller.Process(), 120000));
    DWORD code = 99;
    ::GetExitCodeProcess(uninstaller.Process(), &code);
    EXPECT_EQ(0u, code);
    ::CloseHandle(blocked);
    ::CloseHandle(release);
}

TEST(Hostile, NonAdministratorsAreTurnedAway) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &token));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
    SID_AND_ATTRIBUTES deny{admins, 0};
    HANDLE restricted = nullptr;
    ASSERT_TRUE(::CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted));
    StubScript stub;
    Uninstaller uninstaller(L"Not admin");
    uninstaller.Settings(TypeSection("Silent", "Stub", "", false) + StubSection("Stub"));
    Clicker clicker({{L"Uninstallation", IDOK}});
    EXPECT_EQ(5, uninstaller.Run(L"/Type Silent", {}, restricted));
    EXPECT_TRUE(clicker.SawText(L"administrator"));
    EXPECT_TRUE(stub.Starts().empty());
    ::CloseHandle(restricted);
    ::CloseHandle(token);
    ::FreeSid(admins);
}
