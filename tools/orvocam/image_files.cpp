#include "tools/orvocam/image_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace orvocam {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenForWriting(const std::string& path) {
    return File(std::fopen(path.c_str(), "wb"), &std::fclose);
}

void Put32le(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16le(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32be(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutChunk(std::vector<uint8_t>& png, const char type[4], const std::vector<uint8_t>& data) {
    Put32be(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32be(png, Crc32(png.data() + start, png.size() - start));
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    File file = OpenForWriting(path);
    return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

}  // namespace

Picture PictureFromDib(const void* bits, int width, int dibHeight) {
    Picture picture;
    picture.width = width;
    picture.height = std::abs(dibHeight);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    picture.bgr.resize(static_cast<size_t>(width) * picture.height * 3);
    const auto* src = static_cast<const uint8_t*>(bits);
    for (int row = 0; row < picture.height; ++row) {
        const int srcRow = dibHeight > 0 ? picture.height - 1 - row : row;
        std::memcpy(&picture.bgr[static_cast<size_t>(row) * width * 3], src + srcRow * stride,
                    static_cast<size_t>(width) * 3);
    }
    return picture;
}

bool WriteBmp(const std::string& path, const Picture& picture) {
    const uint32_t stride = (static_cast<uint32_t>(picture.width) * 3 + 3) & ~3u;
    const uint32_t imageSize = stride * static_cast<uint32_t>(picture.height);
    std::vector<uint8_t> out;
    out.reserve(54 + imageSize);
    out.push_back('B');
    out.push_back('M');
    Put32le(out, 54 + imageSize);
    Put32le(out, 0);
    Put32le(out, 54);
    Put32le(out, 40);
    Put32le(out, static_cast<uint32_t>(picture.width));
    Put32le(out, static_cast<uint32_t>(-picture.height));   // top-down rows
    Put16le(out, 1);
    Put16le(out, 24);
    Put32le(out, 0);
    Put32le(out, imageSize);
    for (int i = 0; i < 4; ++i) Put32le(out, 0);
    for (int row = 0; row < picture.height; ++row) {
        const uint8_t* line = &picture.bgr[static_cast<size_t>(row) * picture.width * 3];
        out.insert(out.end(), line, line + picture.width * 3);
        out.resize(out.size() + (stride - picture.width * 3), 0);
    }
    return WriteAll(path, out);
}

bool WritePng(const std::string& path, const Picture& picture) {
    // Filter byte 0 and RGB order per row.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(picture.height) * (picture.width * 3 + 1));
    for (int row = 0; row < picture.height; ++row) {
        raw.push_back(0);
        const uint8_t* line = &picture.bgr[static_cast<size_t>(row) * picture.width * 3];
        for (int x = 0; x < picture.width; ++x) {
            raw.push_back(line[3 * x + 2]);
            raw.push_back(line[3 * x + 1]);
            raw.push_back(line[3 * x]);
        }
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        zlib.push_back(at + n >= raw.size() ? 1 : 0);
        Put16le(zlib, static_cast<uint16_t>(n));
        Put16le(zlib, static_cast<uint16_t>(~n));
        zlib.insert(zlib.end(), raw.begin() + static_cast<long>(at), raw.begin() + static_cast<long>(at + n));
        if (raw.empty()) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32be(zlib, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32be(header, static_cast<uint32_t>(picture.width));
    Put32be(header, static_cast<uint32_t>(picture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});   // 8-bit RGB
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});
    return WriteAll(path, png);
}

}  // namespace orvocam
