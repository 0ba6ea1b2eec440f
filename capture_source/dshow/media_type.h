// An AM_MEDIA_TYPE that owns its format block (and the rare IUnknown), with
// the helpers for types handed across interfaces in task memory.
#pragma once
#include "capture_source/dshow/dshow.h"

namespace orvo::dshow {

// Frees what the type points to and clears those fields.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type) noexcept;
// Copies src into dst (dst's old contents must be freed); false when the
// format block could not be allocated (dst is then left empty).
bool CopyMediaType(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) noexcept;
// A task-memory copy of a type, for callers that free it with DeleteMediaType.
AM_MEDIA_TYPE* CreateTaskMediaType(const AM_MEDIA_TYPE& src) noexcept;
void DeleteTaskMediaType(AM_MEDIA_TYPE* type) noexcept;

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType() noexcept;
    CMediaType(const CMediaType& other) noexcept;
    CMediaType& operator=(const CMediaType& other) noexcept;
    explicit CMediaType(const AM_MEDIA_TYPE& other) noexcept;
    ~CMediaType();

    bool Set(const AM_MEDIA_TYPE& other) noexcept;
    bool IsValid() const noexcept { return majortype != GUID_NULL; }
    // Allocates a zeroed format block of this size; null on failure.
    BYTE* AllocFormatBuffer(ULONG length) noexcept;
    void Clear() noexcept;
    // True when every field this type sets (non-null GUIDs) matches other.
    bool MatchesPartial(const AM_MEDIA_TYPE& other) const noexcept;
    bool IsPartiallySpecified() const noexcept;
};

}  // namespace orvo::dshow
