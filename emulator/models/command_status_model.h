// The firmware of an emulated camera with its own processor, for either
// packet family: it takes command packets, answers the opening handshake,
// keeps its own settings (and changes some on its own when asked), answers
// every command (a plain frame request too) with a status packet, reports
// items on request, and sends 24-bit pattern frames for frame requests. It
// knows nothing of how it is reached: a device adapter carries the bytes.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "emulator/models/command_status_wire.h"

namespace orvo::emu {

class CommandStatusModel {
public:
    // A command as the camera decoded it from the wire.
    struct Command {
        uint32_t command = 0;      // command flags (flag values removed on the single-mask layout)
        uint32_t dataSize = 0;
        uint32_t flagMask = 0;
        uint32_t flagValues = 0;
        uint32_t valueMask = 0;
        uint8_t values[32] = {};
        std::vector<uint16_t> items;
    };
    struct Faults {
        int shortFrames = 0;      // the next n frames lack their last row
        int droppedFrames = 0;    // the next n frame requests go unanswered
        bool mute = false;        // no status packets at all
    };
    // Paint each receiving buffer once and afterwards restamp only the
    // counter and row numbers: keeps the model's own cost out of benchmarks.
    bool stampOnly = false;

    explicit CommandStatusModel(Family family);

    // --- the wire --------------------------------------------------------------
    void OnCommand(const uint8_t* data, size_t size);
    // The next status packet for the response pipe, if one is waiting.
    bool NextStatus(std::vector<uint8_t>& packet);
    // Fills the data read with the frame of the oldest frame request; false
    // when no request is waiting. bytes may be short of the request (a fault)
    // or of the capacity.
    bool NextFrame(uint8_t* buffer, uint32_t capacity, uint32_t* bytes);
    // Vendor control transfers: bytes delivered (in) or whether accepted (out).
    uint32_t ControlIn(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint32_t length);
    bool ControlOut(uint8_t request, uint16_t value, uint16_t index, const uint8_t* data, uint32_t length);

    // --- the camera's own state, for tests ----------------------------------------
    uint32_t Flags() const noexcept { return m_flags; }
    uint8_t Value(int n) const noexcept { return m_values[n & 31]; }
    // Changes made on the camera itself, reported with the next status packet.
    void ChangeFlag(int bit, bool on);
    void ChangeValue(int n, uint8_t value);
    void SetItemValue(uint8_t type, uint32_t value);   // items 6..12 and 15, reported at once
    void ReportItem(uint8_t type) { Report(ItemsFor(type)); }
    // Queues a packet exactly as given (malformed ones included).
    void InjectStatus(std::vector<uint8_t> packet) { m_status.push_back(std::move(packet)); }

    void SetFrameSize(uint16_t width, uint16_t height) { m_width = width, m_height = height; }
    void SetModes(std::vector<uint32_t> modes, std::vector<uint32_t> rates) { m_modes = modes, m_rates = rates; }
    // Frames per second: the alder family's frame-rate setting (value 13,
    // which the host may change), the birch family's fixed rate.
    void SetFrameRate(uint8_t fps);
    // Seconds per frame at the rate the camera runs at now.
    double FramePeriod() const noexcept;
    std::vector<uint32_t> list1, list2;                 // reported as items 1 and 13
    std::map<int, std::u16string> text1, text2;         // items 2 and 14
    std::vector<uint8_t> memory = std::vector<uint8_t>(1024);   // requests 0x51 / 0x50
    std::map<uint32_t, std::vector<uint8_t>> blocks;    // stored blocks: header then data
    Faults faults;

    const std::vector<Command>& Commands() const noexcept { return m_commands; }
    uint32_t RejectedCommands() const noexcept { return m_rejected; }
    uint32_t FramesSent() const noexcept { return m_frameCounter; }
    size_t WaitingFrameRequests() const noexcept { return m_frameRequests.size(); }
    size_t WaitingStatus() const noexcept { return m_status.size(); }

    static uint32_t Tag(const char (&text)[5]) noexcept;

private:
    bool Decode(const uint8_t* data, size_t size, Command& out) const;
    void Apply(const Command& command);
    void Report(const std::vector<std::vector<uint8_t>>& items);
    std::vector<uint8_t> Header() const;
    std::vector<std::vector<uint8_t>> ItemsFor(uint8_t type) const;
    void FrameGeometry(uint32_t bytes, uint32_t* width, uint32_t* rows) const;
    void PutBlock(uint32_t tag, uint32_t dataBytes);

    Family m_family;
    const PacketShape& m_shape;
    bool m_handshake = false;
    uint32_t m_flags = 0;
    uint8_t m_values[32] = {};
    uint32_t m_changedFlags = 0;
    uint32_t m_changedValues = 0;
    uint16_t m_width = 1280;
    uint16_t m_height = 720;
    uint8_t m_fixedRate = 30;
    std::vector<uint32_t> m_modes;
    std::vector<uint32_t> m_rates;
    std::map<uint8_t, uint32_t> m_itemValues;
    std::deque<std::vector<uint8_t>> m_status;
    std::deque<uint32_t> m_frameRequests;
    uint32_t m_frameCounter = 0;
    std::vector<const uint8_t*> m_painted;
    std::vector<Command> m_commands;
    uint32_t m_rejected = 0;
    // Stored-block transfers: the block being read or written and where.
    uint32_t m_readTag = 0;
    uint32_t m_readCursor = 0;
    uint32_t m_writeTag = 0;
};

}  // namespace orvo::emu
