// Message events as built argument by argument, and the module-information
// event with the debug record found through the module's PE headers.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/trace/module_info.h"
#include "support/trace/trace_event_builder.h"
#include "win32/unique_module.h"

namespace orvo {
namespace {

TraceEventBuilder* NewBuilder() { return new TraceEventBuilder(kZelLevelError, 0x1234, 0x400000, 77); }

std::vector<uint8_t> Arguments(TraceEventBuilder& b) {
    return std::vector<uint8_t>(b.Event().arguments, b.Event().arguments + b.ArgumentLength());
}

TEST(TraceEventBuilder, HeaderOfAMessageEvent) {
    TraceEventBuilder b(kZelLevelWarning, 0xABCD, 0xFFFFFFFF80000000ull, 4242);
    const TraceEventBuffer& e = b.Event();
    EXPECT_EQ(e.header.size, 64);
    EXPECT_EQ(e.header.type, 0);
    EXPECT_EQ(e.header.level, kZelLevelWarning);
    EXPECT_EQ(e.header.guid, kZelMessageEventGuid);
    EXPECT_EQ(e.header.flags, 0x20000u);
    EXPECT_EQ(e.processId, 4242u);
    EXPECT_EQ(e.messageNumber, 0xABCDu);
    EXPECT_EQ(e.loadAddress, 0xFFFFFFFF80000000ull);
    EXPECT_EQ(EventLoadAddress(reinterpret_cast<void*>(static_cast<intptr_t>(-0x10000))), 0xFFFFFFFFFFFF0000ull)
        << "load addresses are sign-extended";
}

TEST(TraceEventBuilder, TypesAndBytesOfEachArgument) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    const int32_t negative = -5;
    const unsigned long dword = 7;
    const uint64_t big = 0x1122334455667788ull;
    const int marker = 0;
    const struct { uint16_t a; uint8_t b; } inlineValue{0x0102, 3};
    const uint8_t raw[3] = {9, 8, 7};
    ASSERT_TRUE(b->Append(negative, dword, big, "ab", L"c", &marker, ZelTraceInline(inlineValue),
                          ZelTraceBytes(raw, sizeof(raw)), true));
    std::vector<uint8_t> expected = {1, 0xFB, 0xFF, 0xFF, 0xFF, 2, 7, 0, 0, 0, 4, 0x88, 0x77, 0x66, 0x55, 0x44,
                                     0x33, 0x22, 0x11, 5, 'a', 'b', 0, 6, 'c', 0, 0, 0, 8};
    const uint64_t pointer = reinterpret_cast<uintptr_t>(&marker);
    expected.insert(expected.end(), reinterpret_cast<const uint8_t*>(&pointer),
                    reinterpret_cast<const uint8_t*>(&pointer) + 8);
    expected.push_back(9);
    expected.insert(expected.end(), reinterpret_cast<const uint8_t*>(&inlineValue),
                    reinterpret_cast<const uint8_t*>(&inlineValue) + sizeof(inlineValue));
    expected.insert(expected.end(), {10, 9, 8, 7, 1, 1, 0, 0, 0});
    EXPECT_EQ(Arguments(*b), expected);
    EXPECT_EQ(b->Event().header.size, 64 + expected.size());
}

TEST(TraceEventBuilder, NullStringsAreWrittenAsNull) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    ASSERT_TRUE(b->Append(static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)));
    const std::vector<uint8_t> one = {6, '(', 0, 'N', 0, 'U', 0, 'L', 0, 'L', 0, ')', 0, 0, 0};
    std::vector<uint8_t> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(Arguments(*b), both);
}

TEST(TraceEventBuilder, GuidIsElevenArguments) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    const GUID guid = {0x01020304, 0xA0B0, 0xC0D0, {0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xF8}};
    ASSERT_TRUE(b->Append(guid));
    const std::vector<uint8_t> args = Arguments(*b);
    ASSERT_EQ(args.size(), 11u * 5);
    EXPECT_EQ(args[0], 2);
    uint32_t value;
    std::memcpy(&value, &args[1], 4);
    EXPECT_EQ(value, 0x01020304u);
    const uint32_t rest[10] = {0xA0B0, 0xC0D0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xF8};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(args[5 * (i + 1)], 1) << "argument " << i + 2;
        std::memcpy(&value, &args[5 * (i + 1) + 1], 4);
        EXPECT_EQ(value, rest[i]) << "argument " << i + 2 << " is zero-extended";
    }
}

TEST(TraceEventBuilder, WideStringIsCutAtTheAreaEndAndNothingFollows) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    const std::wstring text(5000, L'w');
    ASSERT_TRUE(b->Append(text.c_str()));
    EXPECT_EQ(b->ArgumentLength(), 1u + 8190) << "4095 characters, no terminator";
    EXPECT_EQ(b->Event().arguments[8190], 0);  // high byte of the last 'w'
    EXPECT_EQ(b->Event().arguments[8189], 'w');
    EXPECT_EQ(b->Event().header.size, 64 + 8191);
    EXPECT_FALSE(b->Append(1)) << "one byte left is no room for a type and a value";
    // The statement's Append of both fails as a whole.
    std::unique_ptr<TraceEventBuilder> c(NewBuilder());
    EXPECT_FALSE(c->Append(text.c_str(), 1));
}

TEST(TraceEventBuilder, NarrowStringIsCutToTheRoomLeft) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    const std::string first(8000, 'a');
    ASSERT_TRUE(b->Append(first.c_str()));
    ASSERT_EQ(b->ArgumentLength(), 8002u);
    const std::string second(500, 'b');
    ASSERT_TRUE(b->Append(second.c_str()));
    EXPECT_EQ(b->ArgumentLength(), 8192u) << "189 bytes of the string, no terminator";
    EXPECT_EQ(b->Event().arguments[8191], 'b');
    EXPECT_TRUE(b->Append(5, "x", L"y")) << "a full area skips what follows";
    EXPECT_EQ(b->ArgumentLength(), 8192u);
    EXPECT_EQ(b->Event().header.size, 64 + 8192);
}

TEST(TraceEventBuilder, ValuesThatDoNotFitFailTheEvent) {
    std::unique_ptr<TraceEventBuilder> b(NewBuilder());
    const std::string filler(8184, 'f');  // leaves 8192 - 8186 = 6 bytes
    ASSERT_TRUE(b->Append(filler.c_str()));
    EXPECT_FALSE(b->Append(uint64_t{1})) << "an integer is never cut";
    EXPECT_EQ(b->ArgumentLength(), 8186u) << "a failed argument writes nothing";
    EXPECT_TRUE(b->Append(uint32_t{1}));
    EXPECT_EQ(b->ArgumentLength(), 8191u);

    std::unique_ptr<TraceEventBuilder> wide(NewBuilder());
    const std::string almost(8188, 'f');  // leaves 2 bytes: room 1 after the type
    ASSERT_TRUE(wide->Append(almost.c_str()));
    EXPECT_FALSE(wide->Append(L"z")) << "a wide string cut to zero units fails";
    EXPECT_FALSE(wide->AppendRaw(kZelArgBytes, "", 0)) << "empty bytes fail";
}

// The debug record of a module this project built, found in memory and
// compared with the record in the file on disk.
TEST(ModuleInformation, CodeViewRecordOfABuiltModule) {
    const std::wstring path = test::ExeFolder() + L"zellog.exe";
    win32::UniqueModule module(::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(module) << "zellog.exe is built beside the test";
    CodeViewRecord record;
    ASSERT_TRUE(FindCodeViewRecord(module.get(), SIZE_MAX, record));
    EXPECT_EQ(record.age, 1u);
    EXPECT_NE(record.guid, GUID{});

    std::ifstream file(path.c_str(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t rsds = bytes.find("RSDS");
    ASSERT_NE(rsds, std::string::npos);
    EXPECT_EQ(std::memcmp(bytes.data() + rsds + 4, &record.guid, 16), 0);

    // The test's own module carries one too, and the event reports it.
    ModuleInfoEvent event;
    BuildModuleInfoEvent(::GetModuleHandleW(nullptr), event);
    CodeViewRecord own;
    ASSERT_TRUE(FindCodeViewRecord(::GetModuleHandleW(nullptr), SIZE_MAX, own));
    EXPECT_EQ(event.header.size, 1648);
    EXPECT_EQ(event.header.guid, kZelModuleInfoEventGuid);
    EXPECT_EQ(event.header.flags, 0x20000u);
    EXPECT_EQ(event.processId, ::GetCurrentProcessId());
    EXPECT_EQ(event.debugGuid, own.guid);
    EXPECT_EQ(event.debugAge, own.age);
    EXPECT_EQ(event.loadAddress, EventLoadAddress(::GetModuleHandleW(nullptr)));
    const std::wstring modulePath = event.modulePath;
    EXPECT_NE(modulePath.find(L"support_lib_trace_event_test.exe"), std::wstring::npos);
    EXPECT_EQ(modulePath, std::wstring(event.executablePath));
}

TEST(ModuleInformation, DamagedHeadersAreRefused) {
    win32::UniqueModule module(::LoadLibraryExW((test::ExeFolder() + L"zellog.exe").c_str(), nullptr,
                                                DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(module);
    const auto* base = reinterpret_cast<const uint8_t*>(module.get());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    // A copy of the image, laid out as loaded, to damage.
    std::vector<uint8_t> image(base, base + nt->OptionalHeader.SizeOfImage);
    CodeViewRecord record;
    ASSERT_TRUE(FindCodeViewRecord(image.data(), image.size(), record));
    EXPECT_FALSE(FindCodeViewRecord(image.data(), 64, record)) << "headers beyond the bytes available";

    auto* copyNt = reinterpret_cast<IMAGE_NT_HEADERS*>(image.data() + dos->e_lfanew);
    const uint16_t magic = copyNt->OptionalHeader.Magic;
    copyNt->OptionalHeader.Magic = 0x107;
    EXPECT_FALSE(FindCodeViewRecord(image.data(), image.size(), record));
    copyNt->OptionalHeader.Magic = magic;

    IMAGE_DATA_DIRECTORY& debug = copyNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
    auto* entry = reinterpret_cast<IMAGE_DEBUG_DIRECTORY*>(image.data() + debug.VirtualAddress);
    const DWORD data = entry->AddressOfRawData;
    entry->AddressOfRawData = static_cast<DWORD>(image.size()) - 8;  // runs past the image
    EXPECT_FALSE(FindCodeViewRecord(image.data(), image.size(), record));
    entry->AddressOfRawData = data;
    entry->Type = 4;  // not CodeView
    EXPECT_FALSE(FindCodeViewRecord(image.data(), image.size(), record));
    entry->Type = 2;
    image[data] = 'X';  // not RSDS
    EXPECT_FALSE(FindCodeViewRecord(image.data(), image.size(), record));
}

}  // namespace
}  // namespace orvo
