// A generic device for transport tests and demos: the test queues what the
// device sends (responses, bulk transfers, isochronous packets, looping
// frames) and reads back what the host sent (commands, control requests).
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/usb_model_base.h"

namespace orvo::emu {

struct ControlRecord {
    SetupPacket setup;
    std::vector<uint8_t> data;  // OUT data
};

class CScriptedUsbModel : public CUsbModelBase {
public:
    CScriptedUsbModel(DeviceIdentity identity, PipeLayout layout);

    // Builds a model from "key=value" settings (see emulator/README.md).
    static std::unique_ptr<CScriptedUsbModel> FromSettings(const std::map<std::string, std::string>& settings);

    UsbStatus Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) override;
    UsbStatus ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                        IsoPacket* packets) override;

    // One device transfer on the response pipe or the bulk data pipe: a read
    // ends at its end (the short packet that closes it).
    void QueueResponse(std::vector<uint8_t> bytes);
    void QueueData(std::vector<uint8_t> bytes);
    // Isochronous packets, in order; an empty vector is an empty packet.
    void QueueIsochPacket(std::vector<uint8_t> bytes, int32_t status = 0);
    // A frame cut into packets of the pipe's bytes per interval, followed by
    // gapPackets empty packets.
    void QueueIsochFrame(const std::vector<uint8_t>& frame, uint32_t gapPackets);
    // Sends this frame again and again whenever nothing else is queued.
    void LoopFrame(std::vector<uint8_t> frame, uint32_t isochGapPackets = 8);
    // Answer of vendor or class IN requests with this bRequest.
    void SetControlAnswer(uint8_t request, std::vector<uint8_t> bytes);

    std::vector<std::vector<uint8_t>> Commands() const;
    std::vector<ControlRecord> ControlRequests() const;
    size_t QueuedDataBytes() const;
    uint64_t FramesLooped() const;

private:
    struct Chunk {
        std::shared_ptr<const std::vector<uint8_t>> bytes;
        size_t offset = 0;
    };
    struct Packet {
        std::shared_ptr<const std::vector<uint8_t>> bytes;
        size_t offset = 0;
        uint32_t length = 0;
        int32_t status = 0;
    };

    UsbStatus ReadChunk(std::deque<Chunk>& queue, uint8_t* data, uint32_t length, uint32_t* moved);
    void RefillLocked();

    mutable win32::CriticalSection m_lock;
    std::deque<Chunk> m_responses;
    std::deque<Chunk> m_data;
    std::deque<Packet> m_packets;
    std::shared_ptr<const std::vector<uint8_t>> m_loopFrame;
    uint32_t m_loopGap = 8;
    uint64_t m_framesLooped = 0;
    std::vector<std::vector<uint8_t>> m_commands;
    std::vector<ControlRecord> m_controls;
    std::map<uint8_t, std::vector<uint8_t>> m_controlAnswers;
};

}  // namespace orvo::emu
