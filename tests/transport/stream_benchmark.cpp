// Streams 5-megapixel frames from the emulated bulk and isochronous pipes
// through CWinUsbDevice into a frame buffer and compares the time with plain
// memcpy of the same bytes in the same run. Not a test: it never fails.
// The emulated device writes every byte into the ring once (the wire), and
// the sink copies it once into the frame: the floor is about two copies.
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "camera_api/transport/winusb_device.h"
#include "emulated_winusb.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double MemcpySeconds(std::vector<uint8_t>& destination, const std::vector<uint8_t>& source, int frames) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        std::memcpy(destination.data(), source.data(), source.size());
        destination[i % destination.size()] ^= 1;  // keeps the copies from being folded
    }
    ::QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

// The floor of the emulated path: each block copied into a ring of four
// blocks (the wire), then out of it into the frame.
double TwoCopySeconds(std::vector<uint8_t>& destination, const std::vector<uint8_t>& source, int frames,
                      uint32_t blockSize) {
    std::vector<uint8_t> ring(size_t(blockSize) * 4);
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        uint32_t block = 0;
        for (size_t offset = 0; offset < source.size(); offset += blockSize, block = (block + 1) % 4) {
            const size_t n = std::min<size_t>(blockSize, source.size() - offset);
            std::memcpy(ring.data() + size_t(block) * blockSize, source.data() + offset, n);
            std::memcpy(destination.data() + offset, ring.data() + size_t(block) * blockSize, n);
        }
        destination[i % destination.size()] ^= 1;
    }
    ::QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

bool Run(const wchar_t* name, orvo::emu::PipeLayout layout, int frames) {
    constexpr uint32_t kFrame = 2592 * 1944;
    orvo::test::EmulatedWinUsbDevice emulated(orvo::test::CameraIdentity(), layout);
    const std::vector<uint8_t> source = orvo::test::FrameBytes(kFrame, 1);
    emulated.Model().LoopFrame(source, 8);
    orvo::CWinUsbDevice device;
    if (!device.Open(emulated.Path(), nullptr)) {
        std::wprintf(L"%ls: open failed\n", name);
        return false;
    }
    std::vector<uint8_t> frame(kFrame);
    uint32_t n = 0;
    device.ReadData(frame.data(), kFrame, &n);  // warm-up
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < frames; ++i) {
        if (!device.ReadData(frame.data(), kFrame, &n) || n != kFrame) {
            std::wprintf(L"%ls: frame %d short (%u bytes)\n", name, i, n);
            return false;
        }
    }
    ::QueryPerformanceCounter(&end);
    const double stream = Seconds(start, end);
    const bool exact = frame == source;
    const double copy = MemcpySeconds(frame, source, frames);
    const double floor = TwoCopySeconds(frame, source, frames, device.Engine().ActiveBuffer().BlockSize());
    const double mb = frames * double(kFrame) / 1e6;
    std::wprintf(L"%-5ls %d frames of %u bytes: streamed %.0f MB/s, memcpy %.0f MB/s, ring floor %.0f MB/s; "
                 L"ratio to memcpy %.2f, to the floor %.2f%ls\n",
                 name, frames, kFrame, mb / stream, mb / copy, mb / floor, stream / copy, stream / floor,
                 exact ? L"" : L", LAST FRAME DIFFERS");
    device.Close();
    return exact;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int frames = argc > 1 ? _wtoi(argv[1]) : 100;
    const bool bulk = Run(L"bulk", orvo::test::BulkLayout(), frames);
    const bool isoch = Run(L"isoch", orvo::test::IsochLayout(), frames);
    return bulk && isoch ? 0 : 1;
}
