#include "watchdog/proxy/proxy_contract.h"

#include <cstring>
#include <cwchar>

namespace orvo::watchdog {

std::vector<uint8_t> BuildProxyRegistration(const GUID& feederGuid, int outputWidth, int outputHeight,
                                            const std::wstring& instanceId, const std::wstring& displayName) {
    const size_t n = (instanceId.size() + 1) * sizeof(wchar_t);
    const size_t m = (displayName.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> record(sizeof(ProxyRegistrationHeader) + n + m, 0);

    ProxyRegistrationHeader header{};
    header.feederGuid = feederGuid;
    header.format.biSize = sizeof(BITMAPINFOHEADER);
    header.format.biWidth = outputWidth;
    header.format.biHeight = outputHeight;
    header.format.biPlanes = 1;
    header.format.biBitCount = 24;
    header.format.biCompression = BI_RGB;
    header.format.biSizeImage = static_cast<DWORD>(outputWidth) * outputHeight * 3;
    header.instanceIdBytes = static_cast<uint32_t>(n);
    header.displayNameBytes = static_cast<uint32_t>(m);
    std::memcpy(record.data(), &header, sizeof(header));
    // The strings' NULs are the zero fill.
    std::memcpy(record.data() + sizeof(header), instanceId.data(), instanceId.size() * sizeof(wchar_t));
    std::memcpy(record.data() + sizeof(header) + n, displayName.data(), displayName.size() * sizeof(wchar_t));
    return record;
}

std::wstring ProxyEventName(ProxyEvent which, const GUID& g) {
    wchar_t name[128];
    std::swprintf(name, 128,
                  L"ZelKernelStreamingProxy-Camera-%ls-{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  which == ProxyEvent::Active ? L"Active" : L"Inactive", static_cast<unsigned long>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return name;
}

}  // namespace orvo::watchdog
