// The kernel's MDL routines. In user mode a "system address" is the
// caller's own address; the flags still follow the kernel's rules, so that a
// partial MDL rebuilt while mapped is caught.
#include <map>

#include "emulator/kmdf/framework.h"

using namespace orvo::kmdf;

namespace {

ULONG PagesSpanned(const void* address, ULONG length) {
    return (BYTE_OFFSET(address) + length + PAGE_SIZE - 1) / PAGE_SIZE;
}

std::map<MDL*, ULONG> g_capacity;  // pages each MDL was allocated for, under Fw().lock

}  // namespace

extern "C" {

PMDL NTAPI IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN, BOOLEAN, PVOID) {
    if (Fw().verifier.Enter("IoAllocateMdl")) return nullptr;
    auto* mdl = new MDL{};
    mdl->Size = CSHORT(sizeof(MDL));
    mdl->StartVa = PAGE_ALIGN(VirtualAddress);
    mdl->ByteOffset = BYTE_OFFSET(VirtualAddress);
    mdl->ByteCount = Length;
    std::lock_guard<std::recursive_mutex> lock(Fw().lock);
    g_capacity[mdl] = PagesSpanned(VirtualAddress, Length);
    ++Fw().mdlCount;
    return mdl;
}

VOID NTAPI IoBuildPartialMdl(PMDL Source, PMDL Target, PVOID VirtualAddress, ULONG Length) {
    Framework& fw = Fw();
    fw.verifier.Enter("IoBuildPartialMdl");
    auto* start = static_cast<uint8_t*>(MmGetMdlVirtualAddress(Source));
    auto* at = static_cast<uint8_t*>(VirtualAddress);
    if (at < start || at + Length > start + Source->ByteCount)
        fw.verifier.Report("IoBuildPartialMdl: the piece lies outside the source MDL");
    if (Target->MdlFlags & MDL_PARTIAL_HAS_BEEN_MAPPED)
        fw.verifier.Report("IoBuildPartialMdl: the target MDL is still mapped from its last use");
    {
        std::lock_guard<std::recursive_mutex> lock(fw.lock);
        auto it = g_capacity.find(Target);
        if (it != g_capacity.end() && PagesSpanned(VirtualAddress, Length) > it->second)
            fw.verifier.Report("IoBuildPartialMdl: the target MDL is too small for the piece");
    }
    Target->StartVa = PAGE_ALIGN(VirtualAddress);
    Target->ByteOffset = BYTE_OFFSET(VirtualAddress);
    Target->ByteCount = Length;
    Target->MdlFlags = CSHORT(MDL_PARTIAL | (Source->MdlFlags & MDL_PAGES_LOCKED));
    Target->MappedSystemVa = nullptr;
}

VOID NTAPI IoFreeMdl(PMDL Mdl) {
    Framework& fw = Fw();
    fw.verifier.Enter("IoFreeMdl");
    std::lock_guard<std::recursive_mutex> lock(fw.lock);
    if (!g_capacity.erase(Mdl)) {
        fw.verifier.Report("IoFreeMdl: not an MDL from IoAllocateMdl, or freed twice");
        return;
    }
    --fw.mdlCount;
    delete Mdl;
}

PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDL Mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID, ULONG, ULONG) {
    Fw().verifier.Enter("MmMapLockedPagesSpecifyCache");
    Mdl->MappedSystemVa = MmGetMdlVirtualAddress(Mdl);
    Mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    if (Mdl->MdlFlags & MDL_PARTIAL) Mdl->MdlFlags |= MDL_PARTIAL_HAS_BEEN_MAPPED;
    return Mdl->MappedSystemVa;
}

VOID NTAPI MmUnmapLockedPages(PVOID, PMDL Mdl) {
    Fw().verifier.Enter("MmUnmapLockedPages");
    Mdl->MdlFlags &= ~(MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL_HAS_BEEN_MAPPED);
    Mdl->MappedSystemVa = nullptr;
}

}  // extern "C"

namespace orvo::kmdf {

// The host controller maps a piece for the device's own writes, as a
// controller driver may; no routine call is counted for it.
void* MapForDevice(MDL* mdl) {
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    if (mdl->MdlFlags & MDL_PARTIAL) mdl->MdlFlags |= MDL_PARTIAL_HAS_BEEN_MAPPED;
    return mdl->MappedSystemVa;
}

}  // namespace orvo::kmdf
