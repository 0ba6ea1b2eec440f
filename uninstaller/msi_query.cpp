#include "uninstaller/msi_query.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "setup_engine/text.h"
#include "setup_engine/version.h"

namespace orvo::uninstaller {
namespace {

class MsiHandle {
public:
    MsiHandle() = default;
    ~MsiHandle() {
        if (m_handle) ::MsiCloseHandle(m_handle);
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE* put() { return &m_handle; }
    MSIHANDLE get() const { return m_handle; }

private:
    MSIHANDLE m_handle = 0;
};

std::wstring Property(MSIHANDLE database, const wchar_t* name) {
    const std::wstring sql = std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property`='") + name + L"'";
    MsiHandle view, record;
    if (::MsiDatabaseOpenViewW(database, sql.c_str(), view.put()) != ERROR_SUCCESS) return {};
    if (::MsiViewExecute(view.get(), 0) != ERROR_SUCCESS || ::MsiViewFetch(view.get(), record.put()) != ERROR_SUCCESS) return {};
    wchar_t buffer[256];
    DWORD size = 256;
    if (::MsiRecordGetStringW(record.get(), 1, buffer, &size) != ERROR_SUCCESS) return {};
    return std::wstring(buffer, size);
}

}  // namespace

bool ReadPackageIdentity(const std::wstring& packagePath, PackageIdentity& out) {
    MsiHandle database;
    if (::MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS) return false;
    out.productCode = Property(database.get(), L"ProductCode");
    out.upgradeCode = Property(database.get(), L"UpgradeCode");
    out.productVersion = Property(database.get(), L"ProductVersion");
    return true;
}

int CompareInstalledVersion(const PackageIdentity& package) {
    if (package.upgradeCode.empty() || package.productCode.empty() || package.productVersion.empty()) return -2;
    wchar_t related[39];
    for (DWORD i = 0; ::MsiEnumRelatedProductsW(package.upgradeCode.c_str(), 0, i, related) == ERROR_SUCCESS; ++i) {
        if (!setup::IEquals(related, package.productCode)) continue;
        wchar_t version[64];
        DWORD size = 64;
        if (::MsiGetProductInfoW(related, INSTALLPROPERTY_VERSIONSTRING, version, &size) != ERROR_SUCCESS) return -2;
        return setup::CompareVersions(version, package.productVersion);
    }
    return -2;
}

int ProductState(const std::wstring& productCode) { return ::MsiQueryProductStateW(productCode.c_str()); }

}  // namespace orvo::uninstaller
