#include "setup_engine/memory_profile.h"

#include "setup_engine/text.h"

namespace orvo::setup {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f'; }

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
    for (std::wstring line : Split(text, L'\n')) {
        line = Trim(line);
        // Comment lines are not special to the reader: ";x=1" is the key ";x".
        if (line.empty()) continue;
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            const std::wstring name = Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
            // A section named again is kept but never found: lookups stop at
            // the first one of that name.
            m_sections.push_back({name, {}});
            current = &m_sections.back();
            continue;
        }
        if (!current) continue;
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos) {
            current->entries.push_back({line, {}, false});
        } else {
            current->entries.push_back({Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), true});
        }
    }
}

const MemoryProfile::Section* MemoryProfile::Find(const std::wstring& section) const {
    for (const auto& s : m_sections)
        if (IEquals(s.name, section)) return &s;
    return nullptr;
}

std::optional<std::wstring> MemoryProfile::ReadString(const std::wstring& section, const std::wstring& key) const {
    const Section* s = Find(section);
    if (!s) return std::nullopt;
    // A line without "=" counts for the section's content but has no value.
    for (const auto& e : s->entries)
        if (e.hasValue && IEquals(e.key, key)) return Unquote(e.value);
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
