#include "support/sync/shared_security.h"

#include <sddl.h>

namespace orvo {
namespace {

bool IsVersion62OrLater() noexcept {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = 6;
    wanted.dwMinorVersion = 2;
    wanted.dwPlatformId = VER_PLATFORM_WIN32_NT;
    DWORDLONG conditions = 0;
    conditions = ::VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = ::VerSetConditionMask(conditions, VER_PLATFORMID, VER_EQUAL);
    return ::VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_PLATFORMID, conditions) != FALSE;
}

bool HasIntegrityLabels() noexcept {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    auto* plain = reinterpret_cast<OSVERSIONINFOW*>(&info);
    if (!::GetVersionExW(plain)) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!::GetVersionExW(plain)) return false;
    }
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 5;
}

}  // namespace

const OsVersionAnswers& ProcessOsVersionAnswers() noexcept {
    static const OsVersionAnswers answers{IsVersion62OrLater(), HasIntegrityLabels()};
    return answers;
}

std::wstring SharedSecurityDescriptorText(const OsVersionAnswers& answers) {
    std::wstring text = L"D:(A;;GA;;;WD)";
    if (answers.atLeast62) text += L"(A;;GA;;;AC)";
    if (answers.hasIntegrityLabels) text += L"S:(ML;;NW;;;LW)";
    return text;
}

SharedSecurityAttributes::SharedSecurityAttributes(const OsVersionAnswers& answers) {
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.bInheritHandle = TRUE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring text = SharedSecurityDescriptorText(answers);
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        m_descriptor.reset(descriptor);
        m_attributes.lpSecurityDescriptor = descriptor;
    }
}

}  // namespace orvo
