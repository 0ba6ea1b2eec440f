// The in-memory settings reader against the Windows profile functions: both
// must read every kept corpus file (and a few hand-made ones) alike, so the
// settings model reads the same whichever source it is given.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "setup_engine/memory_profile.h"
#include "setup_engine/text.h"
#include "uninstaller/win_profile.h"

namespace {

struct CorpusEntry {
    const char* name;
    std::vector<unsigned char> bytes;
};

const CorpusEntry kCorpus[] = {
#include "settings_corpus.inc"
    {"hand-made", {}},
};

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Latin1(const std::vector<unsigned char>& bytes) {
    std::wstring text;
    for (unsigned char b : bytes) text += static_cast<wchar_t>(b < 0x80 ? b : L'?');
    return text;
}

// Section and key names the file mentions, plus names it does not.
void Names(const std::wstring& text, std::set<std::wstring>& sections, std::set<std::wstring>& keys) {
    sections = {L"default", L"missing", L""};
    keys = {L"Name", L"absent", L""};
    for (const auto& raw : orvo::setup::Split(text, L'\n')) {
        std::wstring line = raw;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t')) line.pop_back();
        const size_t open = line.find(L'['), close = line.find(L']');
        if (open != std::wstring::npos && close != std::wstring::npos && close > open)
            sections.insert(orvo::setup::RemoveBlanks(line.substr(open + 1, close - open - 1)));
        const size_t equals = line.find(L'=');
        keys.insert(orvo::setup::RemoveBlanks(equals == std::wstring::npos ? line : line.substr(0, equals)));
    }
}

void Compare(const std::string& label, const std::wstring& text) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"orvo_profile_compare.ini";
    ::DeleteFileW(path.c_str());
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string bytes(text.begin(), text.end());
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);

    orvo::setup::MemoryProfile memory(text);
    orvo::uninstaller::WinProfileSource windows(path);
    std::set<std::wstring> sections, keys;
    Names(text, sections, keys);
    for (const auto& section : sections) {
        // Names holding a NUL reach the readers cut short, and how the two
        // then match a key that holds one too is not worth pinning down: such
        // a file is broken, and either answer is safe.
        if (section.find(L'\0') != std::wstring::npos) continue;
        const std::string where = label + " [" + Ascii(section) + "]";
        EXPECT_EQ(windows.SectionHasContent(section), memory.SectionHasContent(section)) << where;
        for (const auto& key : keys) {
            if (key.find(L'\0') != std::wstring::npos) continue;
            const std::string at = where + " " + Ascii(key);
            const auto a = windows.ReadString(section, key);
            const auto b = memory.ReadString(section, key);
            EXPECT_EQ(a.has_value(), b.has_value()) << at;
            if (a && b) {
                EXPECT_EQ(Ascii(*a), Ascii(*b)) << at;
            }
            EXPECT_EQ(windows.ReadInt(section, key, 77), memory.ReadInt(section, key, 77)) << at;
        }
    }
    ::DeleteFileW(path.c_str());
}

}  // namespace

TEST(ProfileReaders, HandMadeFilesReadAlike) {
    Compare("basic", L"[default]\r\nName = Product \r\nMainInstall=Main\r\n\r\n[Main]\r\nName=\"quoted\"\r\nFile=msiexec\r\n");
    Compare("odd", L"Key=before any section\r\n[ spaced ]\r\n  Name=  two  words  \r\nName=second\r\n;Name=comment\r\n"
                   L"Num=12abc\r\nNeg=-3\r\nEmpty=\r\nBare\r\n[spaced]\r\nLater=1\r\n[empty]\r\n");
    Compare("quotes", L"[q]\r\nA='single'\r\nB=\"open\r\nC=\"a\" b \"c\"\r\nD=\"\"\r\n");
}

TEST(ProfileReaders, KeptCorpusReadsAlike) {
    for (const auto& entry : kCorpus)
        if (!entry.bytes.empty()) Compare(entry.name, Latin1(entry.bytes));
}
