#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

std::wstring ToLower(std::wstring text) {
    for (auto& c : text) c = Lower(c);
    return text;
}

bool IEquals(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool IStartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

size_t IFind(const std::wstring& text, const std::wstring& needle, size_t from) {
    if (needle.empty()) return from <= text.size() ? from : std::wstring::npos;
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && Lower(text[i + k]) == Lower(needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring::npos;
}

bool IContains(const std::wstring& text, const std::wstring& needle) {
    return IFind(text, needle) != std::wstring::npos;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) return parts;
        start = end + 1;
    }
}

std::wstring RemoveBlanks(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    const size_t last = text.find_last_not_of(L' ');
    return text.substr(first, last - first + 1);
}

std::wstring UnquoteSpaces(const std::wstring& text) {
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') return text.substr(1, text.size() - 2);
    return text;
}

long ParseLeadingInt(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
    unsigned long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
        if (value > 0x7FFFFFFFul) value = 0x80000000ul;  // saturate instead of wrapping
    }
    const long magnitude = value > 0x7FFFFFFFul ? 0x7FFFFFFFl : static_cast<long>(value);
    return negative ? -magnitude : magnitude;
}

}  // namespace orvo::setup
