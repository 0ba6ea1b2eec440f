#include "support/trace/module_info.h"

#include <cstring>

namespace orvo {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kCodeViewType = 2;  // IMAGE_DEBUG_TYPE_CODEVIEW
constexpr size_t kRsdsHeaderBytes = 24;  // signature, GUID, age

template <class T>
bool ReadAt(const uint8_t* image, size_t limit, size_t offset, T& value) noexcept {
    if (offset > limit || limit - offset < sizeof(T)) return false;
    std::memcpy(&value, image + offset, sizeof(T));
    return true;
}

}  // namespace

bool FindCodeViewRecord(const void* imageBase, size_t available, CodeViewRecord& record) noexcept {
    const auto* image = static_cast<const uint8_t*>(imageBase);
    if (!image) return false;
    uint16_t dosMagic = 0;
    int32_t ntOffset = 0;
    if (!ReadAt(image, available, 0, dosMagic) || dosMagic != IMAGE_DOS_SIGNATURE) return false;
    if (!ReadAt(image, available, offsetof(IMAGE_DOS_HEADER, e_lfanew), ntOffset) || ntOffset <= 0) return false;
    uint32_t signature = 0;
    if (!ReadAt(image, available, ntOffset, signature) || signature != IMAGE_NT_SIGNATURE) return false;

    const size_t optional = static_cast<size_t>(ntOffset) + 4 + sizeof(IMAGE_FILE_HEADER);
    uint16_t magic = 0;
    if (!ReadAt(image, available, optional, magic)) return false;
    size_t directories = 0, rvaCountOffset = 0;
    if (magic == kPe32Magic) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        rvaCountOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    } else if (magic == kPe32PlusMagic) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        rvaCountOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
    } else {
        return false;
    }
    uint32_t sizeOfImage = 0, rvaCount = 0;
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage) == offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage));
    if (!ReadAt(image, available, optional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage), sizeOfImage)) return false;
    const size_t limit = sizeOfImage < available ? sizeOfImage : available;
    if (!ReadAt(image, limit, rvaCountOffset, rvaCount) || rvaCount <= IMAGE_DIRECTORY_ENTRY_DEBUG) return false;

    IMAGE_DATA_DIRECTORY debug{};
    if (!ReadAt(image, limit, directories + IMAGE_DIRECTORY_ENTRY_DEBUG * sizeof(IMAGE_DATA_DIRECTORY), debug)) {
        return false;
    }
    const size_t entries = debug.Size / sizeof(IMAGE_DEBUG_DIRECTORY);
    for (size_t i = 0; i < entries; ++i) {
        IMAGE_DEBUG_DIRECTORY entry{};
        if (!ReadAt(image, limit, debug.VirtualAddress + i * sizeof(entry), entry)) return false;
        if (entry.Type != kCodeViewType) continue;
        const size_t data = entry.AddressOfRawData;
        if (data == 0 || entry.SizeOfData < kRsdsHeaderBytes || data > limit || limit - data < entry.SizeOfData) {
            continue;
        }
        if (std::memcmp(image + data, "RSDS", 4) != 0) continue;
        std::memcpy(&record.guid, image + data + 4, sizeof(GUID));
        std::memcpy(&record.age, image + data + 20, sizeof(uint32_t));
        record.path = reinterpret_cast<const char*>(image + data + kRsdsHeaderBytes);
        const size_t pathRoom = entry.SizeOfData - kRsdsHeaderBytes;
        const void* end = std::memchr(record.path, '\0', pathRoom);
        record.pathLength = end ? static_cast<const char*>(end) - record.path : pathRoom;
        return true;
    }
    return false;
}

void BuildModuleInfoEvent(HMODULE module, ModuleInfoEvent& event) noexcept {
    std::memset(&event, 0, sizeof(event));
    event.header.size = static_cast<uint16_t>(sizeof(ModuleInfoEvent));
    event.header.guid = kZelModuleInfoEventGuid;
    event.header.flags = kZelTracedGuidFlag;
    event.processId = ::GetCurrentProcessId();
    // The last unit stays zero: a path cut at the field's end is still terminated.
    ::GetModuleFileNameW(nullptr, event.executablePath, kZelPathChars - 1);
    ::GetModuleFileNameW(module, event.modulePath, kZelPathChars - 1);
    event.loadAddress = EventLoadAddress(module);

    CodeViewRecord record;
    if (module && FindCodeViewRecord(module, SIZE_MAX, record)) {
        event.debugGuid = record.guid;
        event.debugAge = record.age;
        const int length = record.pathLength < kZelPathChars ? static_cast<int>(record.pathLength) : kZelPathChars - 1;
        if (length > 0) {
            ::MultiByteToWideChar(CP_THREAD_ACP, 0, record.path, length, event.debugPath, kZelPathChars - 1);
        }
    }
}

}  // namespace orvo
