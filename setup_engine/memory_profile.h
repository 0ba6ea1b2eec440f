// A profile source over INI text held in memory, read the way the Windows
// profile functions read a file: sections and keys ignore case, the first of
// equal sections and of equal keys wins, blanks around names and values and
// one pair of quotes around a value are dropped. Lines starting with ';' are
// comments only to people: the reader sees keys such as ";Name".
#pragma once
#include <string>
#include <deque>
#include <utility>
#include <vector>

#include "setup_engine/profile_source.h"

namespace orvo::setup {

class MemoryProfile final : public ProfileSource {
public:
    explicit MemoryProfile(const std::wstring& text);

    std::optional<std::wstring> ReadString(const std::wstring& section, const std::wstring& key) const override;
    int ReadInt(const std::wstring& section, const std::wstring& key, int fallback) const override;
    bool SectionHasContent(const std::wstring& section) const override;

private:
    struct Entry {
        std::wstring key;
        std::wstring value;
        bool hasValue;  // the line held an '='
    };
    struct Section {
        std::wstring name;
        std::vector<Entry> entries;
    };
    const Section* Find(const std::wstring& section) const;

    std::deque<Section> m_sections;  // stable addresses while appending
};

}  // namespace orvo::setup
