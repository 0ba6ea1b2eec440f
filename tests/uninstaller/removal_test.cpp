// Real removal: the shipped Settings.ini removes the product (x64 package)
// and, for SilentRemoveShared, the shared components (x86 package) through
// Wine's msiexec.
#include <gtest/gtest.h>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

namespace {

const std::wstring kProduct = ORVO_PRODUCT_CODE_TEXT;
const std::wstring kShared = ORVO_SHARED_CODE_TEXT;
const std::wstring kRecord = L"C:\\orvo_test\\custom_action.txt";

std::wstring ProgramFiles(bool x64) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(x64 ? L"ProgramW6432" : L"ProgramFiles(x86)", buffer, MAX_PATH);
    if (n && n < MAX_PATH) return buffer;
    ::GetEnvironmentVariableW(L"ProgramFiles", buffer, MAX_PATH);
    return buffer;
}

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveProduct(kProduct);
        RemoveProduct(kShared);
        ASSERT_EQ(0, InstallPackage(L"product"));
        ASSERT_EQ(0, InstallPackage(L"shared"));
        ASSERT_TRUE(Installed(kProduct));
        ASSERT_TRUE(Installed(kShared));
        ::DeleteFileW(kRecord.c_str());
    }
    void TearDown() override {
        RemoveProduct(kProduct);
        RemoveProduct(kShared);
    }
};

}  // namespace

TEST_F(Removal, SilentRemovesTheProductAndKeepsTheSharedComponents) {
    const std::wstring payload = ProgramFiles(true) + L"\\OrvoTestProduct\\payload.txt";
    EXPECT_TRUE(Exists(payload));
    EXPECT_TRUE(RegistryValueExists(L"Software\\OrvoTest\\OrvoTestProduct", L"Installed", KEY_WOW64_64KEY));
    Uninstaller uninstaller(L"Silent removal");
    uninstaller.ShippedSettings();
    // The documented spelling: no dialog may wait for an answer.
    EXPECT_EQ(0, uninstaller.Run(L"/Type Silent"));
    EXPECT_FALSE(Installed(kProduct));
    EXPECT_FALSE(Exists(payload));
    EXPECT_FALSE(RegistryValueExists(L"Software\\OrvoTest\\OrvoTestProduct", L"Installed", KEY_WOW64_64KEY));
    EXPECT_TRUE(Installed(kShared));
    EXPECT_TRUE(RunOnceValue().empty());
    const std::string record = ReadText(kRecord);
    EXPECT_NE(std::string::npos, record.find("OrvoVistrel|C:\\orvo_test\\Silent removal folder||")) << record;
}

TEST_F(Removal, SilentRemoveSharedRemovesBothWithTheirLogs) {
    Uninstaller uninstaller(L"Shared removal");
    uninstaller.ShippedSettings();
    EXPECT_EQ(0, uninstaller.Run(L"/TYPE SilentRemoveShared /q"));
    EXPECT_FALSE(Installed(kProduct));
    EXPECT_FALSE(Installed(kShared));
    EXPECT_FALSE(Exists(ProgramFiles(false) + L"\\OrvoTestShared\\payload.txt"));
    EXPECT_FALSE(RegistryValueExists(L"Software\\OrvoTest\\OrvoTestShared", L"Installed", KEY_WOW64_32KEY));
    EXPECT_TRUE(RunOnceValue().empty());
    EXPECT_TRUE(Exists(LogFolder() + L"OrvoVistrel.log"));
    EXPECT_TRUE(Exists(LogFolder() + L"OrvoVistrel Shared Components.log"));
    const std::string record = ReadText(kRecord);
    EXPECT_NE(std::string::npos, record.find("OrvoVistrel|C:\\orvo_test\\Shared removal folder|1|1")) << record;
    EXPECT_NE(std::string::npos, record.find("OrvoVistrel Shared Components|C:\\orvo_test\\Shared removal folder|1|1")) << record;
    const std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("*** InstallationBootstrapper - Start. ***"));
    EXPECT_NE(std::string::npos, log.find("*** InstallationBootstrapper - Finish. ***"));
}
