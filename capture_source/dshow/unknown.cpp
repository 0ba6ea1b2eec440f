#include "capture_source/dshow/unknown.h"

namespace orvo::dshow {
namespace {
LONG g_liveObjects = 0;
}

LONG LiveObjectCount() noexcept { return ::InterlockedCompareExchange(&g_liveObjects, 0, 0); }
void AddLiveObject() noexcept { ::InterlockedIncrement(&g_liveObjects); }
void RemoveLiveObject() noexcept { ::InterlockedDecrement(&g_liveObjects); }

}  // namespace orvo::dshow
