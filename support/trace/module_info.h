// The module-information event: which executable and module wrote the
// events that follow, and which debug record (CodeView "RSDS") resolves
// their message numbers.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "support/trace/trace_event.h"

namespace orvo {

struct CodeViewRecord {
    GUID guid{};
    uint32_t age = 0;
    const char* path = nullptr;  // inside the image; not necessarily terminated
    size_t pathLength = 0;       // bytes before the terminator or the record's end
};

// Walks the PE headers of an image laid out as loaded (sections at their
// RVAs) for the first CodeView debug entry whose data starts with "RSDS".
// Every read stays within min(available, SizeOfImage) bytes. Pure.
bool FindCodeViewRecord(const void* image, size_t available, CodeViewRecord& record) noexcept;

// Fills the 1648-byte event for the loaded module (header, process, paths,
// load address and the debug record, zero where unknown).
void BuildModuleInfoEvent(HMODULE module, ModuleInfoEvent& event) noexcept;

}  // namespace orvo
