#include "capture_source/dshow/media_type.h"

#include <cstring>

namespace orvo::dshow {

void FreeMediaTypeContents(AM_MEDIA_TYPE& type) noexcept {
    if (type.cbFormat != 0 || type.pbFormat) ::CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

bool CopyMediaType(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) noexcept {
    dst = src;
    if (src.cbFormat != 0 && src.pbFormat) {
        dst.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(src.cbFormat));
        if (!dst.pbFormat) {
            dst.cbFormat = 0;
            dst.pUnk = nullptr;
            return false;
        }
        std::memcpy(dst.pbFormat, src.pbFormat, src.cbFormat);
    } else {
        dst.pbFormat = nullptr;
        dst.cbFormat = 0;
    }
    if (dst.pUnk) dst.pUnk->AddRef();
    return true;
}

AM_MEDIA_TYPE* CreateTaskMediaType(const AM_MEDIA_TYPE& src) noexcept {
    auto* type = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return nullptr;
    if (!CopyMediaType(*type, src)) {
        ::CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

void DeleteTaskMediaType(AM_MEDIA_TYPE* type) noexcept {
    if (!type) return;
    FreeMediaTypeContents(*type);
    ::CoTaskMemFree(type);
}

CMediaType::CMediaType() noexcept : AM_MEDIA_TYPE{} { lSampleSize = 1; bFixedSizeSamples = TRUE; }

CMediaType::CMediaType(const CMediaType& other) noexcept : AM_MEDIA_TYPE{} { Set(other); }

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) noexcept : AM_MEDIA_TYPE{} { Set(other); }

CMediaType& CMediaType::operator=(const CMediaType& other) noexcept {
    if (this != &other) Set(other);
    return *this;
}

CMediaType::~CMediaType() { FreeMediaTypeContents(*this); }

bool CMediaType::Set(const AM_MEDIA_TYPE& other) noexcept {
    if (&other == this) return true;
    FreeMediaTypeContents(*this);
    return CopyMediaType(*this, other);
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) noexcept {
    BYTE* block = static_cast<BYTE*>(::CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    ::CoTaskMemFree(pbFormat);
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::Clear() noexcept {
    FreeMediaTypeContents(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE{};
}

bool CMediaType::IsPartiallySpecified() const noexcept {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const AM_MEDIA_TYPE& other) const noexcept {
    if (majortype != GUID_NULL && majortype != other.majortype) return false;
    if (subtype != GUID_NULL && subtype != other.subtype) return false;
    if (formattype != GUID_NULL) {
        if (formattype != other.formattype || cbFormat != other.cbFormat) return false;
        if (cbFormat != 0 && std::memcmp(pbFormat, other.pbFormat, cbFormat) != 0) return false;
    }
    return true;
}

}  // namespace orvo::dshow
