// The two ends of a WinUSB data stream: the source keeps reads in flight and
// commits them in order; the sink copies committed blocks into the buffer of
// the fill that is under way.
#pragma once
#include <atomic>
#include <cstdint>

#include "camera_api/transport/data_socket.h"
#include "camera_api/transport/winusb_stream.h"

namespace orvo {

class CWinUsbSource : public CWriteSocket {
public:
    void Advance() override;
    bool Submit();
    bool HasPendingReads() const;

private:
    CWinUsbStream* UsbStream() const noexcept { return dynamic_cast<CWinUsbStream*>(m_stream); }
};

class CWinUsbSink : public CReadSocket {
public:
    void Advance() override;
    bool SetDestination(uint8_t* destination);
    bool HasDestination() const noexcept { return m_destination.load() != nullptr; }
    bool Error() const noexcept { return m_error.load() != 0; }
    // The device ended its transfer before the fill was full.
    bool Ended() const noexcept { return m_ended.load(); }

private:
    CWinUsbStream* UsbStream() const noexcept { return dynamic_cast<CWinUsbStream*>(m_stream); }

    std::atomic<uint8_t*> m_destination{nullptr};
    std::atomic<int32_t> m_error{0};
    std::atomic<bool> m_ended{false};
};

}  // namespace orvo
