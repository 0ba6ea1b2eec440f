#include "setup_engine/version.h"

#include <vector>

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

std::vector<unsigned long> Parts(const std::wstring& version) {
    std::vector<unsigned long> parts;
    for (const auto& piece : Split(version, L'.')) {
        const long n = ParseLeadingInt(piece);
        parts.push_back(n < 0 ? 0 : static_cast<unsigned long>(n));
    }
    while (!parts.empty() && parts.back() == 0) parts.pop_back();
    return parts;
}

}  // namespace

int CompareVersions(const std::wstring& a, const std::wstring& b) {
    const auto pa = Parts(a), pb = Parts(b);
    for (size_t i = 0; i < pa.size() || i < pb.size(); ++i) {
        const unsigned long x = i < pa.size() ? pa[i] : 0, y = i < pb.size() ? pb[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace orvo::setup
