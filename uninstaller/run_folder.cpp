#include "uninstaller/run_folder.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include "win32/unique_handle.h"
#include "win32/unique_local.h"

namespace orvo::uninstaller {

bool WriteNewFile(const std::wstring& path, const void* data, size_t size) {
    win32::UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    file.reset();
    if (!ok) ::DeleteFileW(path.c_str());
    return ok;
}

bool RunFolder::Create(const std::wstring& parent) {
    // Protected: nothing is inherited from the user's temporary folder.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    win32::UniqueLocal owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    for (int attempt = 0; attempt < 8; ++attempt) {
        GUID id;
        wchar_t text[40];
        if (FAILED(::CoCreateGuid(&id)) || !::StringFromGUID2(id, text, 40)) return false;
        const std::wstring path = parent + L"ZelSetup" + text;
        if (::CreateDirectoryW(path.c_str(), &attributes)) {
            m_path = path + L"\\";
            return true;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool RunFolder::WriteNewFile(const std::wstring& name, const void* data, size_t size) {
    return !m_path.empty() && uninstaller::WriteNewFile(m_path + name, data, size);
}

RunFolder::~RunFolder() {
    if (m_path.empty()) return;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((m_path + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                const std::wstring file = m_path + found.cFileName;
                ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(file.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(m_path.c_str());
}

}  // namespace orvo::uninstaller
