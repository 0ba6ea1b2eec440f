// The security descriptor of every named object that processes of other
// users, integrity levels and app containers must open: full access for
// everyone (and for app containers where they exist), labelled low integrity
// where integrity levels exist.
#pragma once
#include <windows.h>
#include <string>

#include "win32/unique_local.h"

namespace orvo {

// The two questions about the operating system that shape the descriptor.
struct OsVersionAnswers {
    bool atLeast62 = false;           // version 6.2 or later: app containers exist
    bool hasIntegrityLabels = false;  // NT family with a major version above 5
};

// Asked once per process and kept.
const OsVersionAnswers& ProcessOsVersionAnswers() noexcept;

// The SDDL text for the given answers (pure).
std::wstring SharedSecurityDescriptorText(const OsVersionAnswers& answers);

// SECURITY_ATTRIBUTES (inheritable) whose descriptor comes from the shared
// SDDL text; a failed conversion leaves the descriptor null, which gives the
// object default security. The descriptor is freed with this object, so keep
// it alive until the kernel object has been created.
class SharedSecurityAttributes {
public:
    explicit SharedSecurityAttributes(const OsVersionAnswers& answers = ProcessOsVersionAnswers());
    SharedSecurityAttributes(const SharedSecurityAttributes&) = delete;
    SharedSecurityAttributes& operator=(const SharedSecurityAttributes&) = delete;

    SECURITY_ATTRIBUTES* get() noexcept { return &m_attributes; }
    bool hasDescriptor() const noexcept { return m_attributes.lpSecurityDescriptor != nullptr; }

private:
    win32::UniqueLocal m_descriptor;
    SECURITY_ATTRIBUTES m_attributes{};
};

}  // namespace orvo
