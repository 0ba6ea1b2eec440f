#include "setup_engine/version.h"

#include <vector>

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

// A part's leading digits as a number, saturated instead of wrapped.
unsigned long long PartValue(const std::wstring& piece) {
    unsigned long long value = 0;
    for (size_t i = 0; i < piece.size() && piece[i] >= L'0' && piece[i] <= L'9'; ++i) {
        if (value > 0xFFFFFFFFFFFFull) return ~0ull;
        value = value * 10 + static_cast<unsigned>(piece[i] - L'0');
    }
    return value;
}

std::vector<unsigned long long> Parts(const std::wstring& version) {
    std::vector<unsigned long long> parts;
    for (const auto& piece : Split(version, L'.')) parts.push_back(PartValue(RemoveBlanks(piece)));
    while (!parts.empty() && parts.back() == 0) parts.pop_back();
    return parts;
}

}  // namespace

int CompareVersions(const std::wstring& a, const std::wstring& b) {
    const auto pa = Parts(a), pb = Parts(b);
    for (size_t i = 0; i < pa.size() || i < pb.size(); ++i) {
        const unsigned long long x = i < pa.size() ? pa[i] : 0, y = i < pb.size() ? pb[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace orvo::setup
