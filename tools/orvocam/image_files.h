// Writes 24-bit pictures as BMP and PNG files. Pure C++: rows are given top
// to bottom as B, G, R triples.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvocam {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;   // width * height * 3, top row first
};

// Copies a DIB's pixels (24-bit rows padded to 4 bytes; bottom-up when
// dibHeight is positive) into a picture.
Picture PictureFromDib(const void* bits, int width, int dibHeight);

bool WriteBmp(const std::string& path, const Picture& picture);
// PNG with stored (uncompressed) deflate blocks: no compression library needed.
bool WritePng(const std::string& path, const Picture& picture);

}  // namespace orvocam
