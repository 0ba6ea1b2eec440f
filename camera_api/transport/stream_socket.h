// What a stream tells the sockets attached to it.
#pragma once
#include <cstdint>

namespace orvo {

enum StreamEvent : int32_t {
    kStreamStarted = 1,      // reader, writer
    kStreamBlockFilled = 2,  // reader: data available
    kStreamBlockFreed = 4,   // writer: space available
    kStreamFlushed = 0x10,   // reader, writer
    kStreamStopped = 0x20,   // reader, writer
};

class IStreamSocket {
public:
    virtual void OnStreamEvent(int32_t code) = 0;
    virtual ~IStreamSocket() = default;
};

}  // namespace orvo
