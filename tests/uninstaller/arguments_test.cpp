// What installers are given: pass-through commands with escapes, the
// properties the switches add, and a package named by a quoted path with
// spaces, whose installed version decides whether it runs.
#include <gtest/gtest.h>

#include "uninstaller_rig.h"

using namespace orvo::test;
using namespace orvo::test::uninstall;

namespace {

const std::wstring kProduct = ORVO_PRODUCT_CODE_TEXT;

}  // namespace

TEST(Arguments, SwitchesAndPassThroughReachTheInstaller) {
    StubScript stub;
    Uninstaller uninstaller(L"Arguments");
    uninstaller.Settings(TypeSection("SilentRemoveShared", "Main", "Shared", true) + StubSection("Main", "AddSourceDir=yes") +
                         StubSection("Shared"));
    EXPECT_EQ(0, uninstaller.Run(L"/Type SilentRemoveShared /q /allowxddm /passthru \"main,other@EXTRA=#2flag##x#1\""));
    const auto starts = stub.Starts();
    ASSERT_EQ(2u, starts.size());
    EXPECT_NE(std::string::npos, starts[0].find(" SOURCE_DIR=\"C:\\orvo_test\\Arguments folder\"")) << starts[0];
    EXPECT_NE(std::string::npos, starts[0].find(" REMOVESHARED=1 ALLOWXDDM=1 IGNOREERROR=1 EXTRA=/flagx- /l*v \"")) << starts[0];
    EXPECT_NE(std::string::npos, starts[0].find("\\Main.log\" SUPPRESS_RUNTIME_SPEECH=1")) << starts[0];
    EXPECT_EQ(std::string::npos, starts[1].find("EXTRA=")) << starts[1];
    EXPECT_EQ(std::string::npos, starts[1].find("SOURCE_DIR")) << starts[1];
}

TEST(Arguments, QuotedPackageWithSpacesDecidesByItsVersion) {
    RemoveProduct(kProduct);
    ASSERT_EQ(0, InstallPackage(L"product"));
    Uninstaller uninstaller(L"Package file");
    ASSERT_TRUE(::CopyFileW(PackagePath(L"product").c_str(), (uninstaller.Folder() + L"Orvo product.msi").c_str(), FALSE));
    const std::string section = "[Product]\r\nName=Product\r\nFile=msiexec\r\nArguments=/qn /x \"Orvo product.msi\"\r\n"
                                "DoNotExtract=yes\r\nFailCodes=1602|1603\r\n";
    // The same version is installed: skipped unless forced.
    uninstaller.Settings(TypeSection("Silent", "Product", "", false) + section);
    EXPECT_EQ(0, uninstaller.Run(L"/Type Silent", uninstaller.Folder()));
    EXPECT_NE(std::string::npos, Log().find("DoWeAllowInstallerToRun - Skipping this installer because of version."));
    EXPECT_TRUE(Installed(kProduct));
    uninstaller.Settings(TypeSection("Silent", "Product", "", false) + section + "ForceRun=yes\r\n");
    EXPECT_EQ(0, uninstaller.Run(L"/Type Silent", uninstaller.Folder()));
    EXPECT_NE(std::string::npos, Log().find("DoWeAllowInstallerToRun - Installer is the same or newer but bypassing the skip."));
    EXPECT_FALSE(Installed(kProduct));
}

TEST(Arguments, AFailedDownloadIsRecorded) {
    Uninstaller uninstaller(L"Download");
    uninstaller.Settings(TypeSection("Silent", "Remote", "", false) +
                         "[Remote]\r\nName=Remote\r\nFile=msiexec\r\nArguments=/x remote.msi /qn\r\nDoNotExtract=yes\r\n"
                         "DynamicInstall=1\r\nURL=http://127.0.0.1:9/remote.msi\r\n");
    EXPECT_EQ(0, uninstaller.Run(L"/Type Silent"));
    EXPECT_NE(std::string::npos, Log().find("RunInstaller - Dynamic Download of the installer file Failed"));
    EXPECT_TRUE(RegistryValueExists(L"Software\\PropertyString", L"DownloadErrorProperty", 0));
}

TEST(Arguments, MinorUpgradeTakesThePlaceOfTheMainInstaller) {
    for (const bool present : {true, false}) {
        StubScript stub;
        Uninstaller uninstaller(L"Upgrade");
        const std::string rule = present ? Narrow(uninstaller.Exe()) : "C:\\orvo_test\\absent.exe";
        uninstaller.Settings(TypeSection("SilentRemoveShared", "Main", "", true, "UpgradeInstall=Up\r\n") + StubSection("Main") +
                             StubSection("Up", "CheckExistence=File|1|" + rule));
        EXPECT_EQ(0, uninstaller.Run(L"/Type SilentRemoveShared"));
        const auto starts = stub.Starts();
        ASSERT_EQ(1u, starts.size());
        if (present) {
            EXPECT_NE(std::string::npos, Log().find("SetListSection - Minor upgrade with Up."));
            EXPECT_NE(std::string::npos, starts[0].find(" REINSTALL=ALL REINSTALLMODE=vomus")) << starts[0];
        } else {
            EXPECT_NE(std::string::npos, Log().find("SetListSection - Run the installer as usual."));
            EXPECT_EQ(std::string::npos, starts[0].find("REINSTALL")) << starts[0];
        }
    }
}
