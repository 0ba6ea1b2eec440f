#include "setup_engine/memory_profile.h"

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

// Blanks as the profile reader sees them, the old end-of-file mark ^Z included.
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f' || c == 0x1A; }

// Names and values are C strings to the reader: a NUL ends them.
std::wstring UpToNul(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

std::wstring Trim(const std::wstring& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::wstring Unquote(const std::wstring& value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

MemoryProfile::MemoryProfile(const std::wstring& text) {
    Section* current = nullptr;
    std::wstring lines = text;
    for (auto& c : lines)
        if (c == L'\r') c = L'\n';  // a lone carriage return ends a line too
    for (std::wstring line : Split(lines, L'\n')) {
        line = Trim(line);
        // Comment lines are not special to the reader: ";x=1" is the key ";x".
        if (line.empty()) continue;
        const size_t close = line.rfind(L']');
        if (line[0] == L'[' && close != std::wstring::npos) {
            // A section named again is kept but never found: lookups stop at
            // the first one of that name. "[name" without "]" is a key line.
            m_sections.push_back({UpToNul(Trim(line.substr(1, close - 1))), {}});
            current = &m_sections.back();
            continue;
        }
        if (!current) continue;
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            current->entries.push_back({UpToNul(line), {}, false});
        } else {
            current->entries.push_back({UpToNul(Trim(line.substr(0, equals))), UpToNul(Trim(line.substr(equals + 1))), true});
        }
    }
}

const MemoryProfile::Section* MemoryProfile::Find(const std::wstring& section) const {
    const std::wstring name = UpToNul(section);  // names reach the reader as C strings
    if (name.empty()) return nullptr;            // an empty name is never found
    for (const auto& s : m_sections)
        if (IEquals(s.name, name)) return &s;
    return nullptr;
}

std::optional<std::wstring> MemoryProfile::ReadString(const std::wstring& section, const std::wstring& key) const {
    const Section* s = Find(section);
    if (!s) return std::nullopt;
    // A line without "=" counts for the section's content and hides later
    // lines of its name, but has no value.
    const std::wstring name = UpToNul(key);
    if (name.empty()) return std::nullopt;
    for (const auto& e : s->entries)
        if (IEquals(e.key, name)) return e.hasValue ? std::optional<std::wstring>(Unquote(e.value)) : std::nullopt;
    return std::nullopt;
}

int MemoryProfile::ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const {
    const auto value = ReadString(section, key);
    if (!value || value->empty()) return fallback;
    return static_cast<int>(ParseLeadingInt(*value));
}

bool MemoryProfile::SectionHasContent(const std::wstring& section) const {
    const Section* s = Find(section);
    return s && !s->entries.empty();
}

}  // namespace orvo::setup
