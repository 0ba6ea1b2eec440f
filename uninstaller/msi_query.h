// Questions put to the Windows Installer.
#pragma once
#include <string>

namespace orvo::uninstaller {

struct PackageIdentity {
    std::wstring productCode, upgradeCode, productVersion;
};

// ProductCode, UpgradeCode and ProductVersion of a package file; false when
// it cannot be opened.
bool ReadPackageIdentity(const std::wstring& packagePath, PackageIdentity& out);

// 0 the package's version is installed, 1 a newer one, -1 an older one, -2
// the product is not installed or nothing can be told. The installed product
// is the one among the upgrade code's related products whose product code is
// the package's.
int CompareInstalledVersion(const PackageIdentity& package);

// Windows Installer state of a product (INSTALLSTATE_*).
int ProductState(const std::wstring& productCode);

}  // namespace orvo::uninstaller
