// The tool's picture files decode to the pixels that went in.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/orvocam/image_files.h"

using namespace orvocam;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

Picture Gradient(int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            p.bgr.push_back(static_cast<uint8_t>(x * 7));
            p.bgr.push_back(static_cast<uint8_t>(y * 13));
            p.bgr.push_back(static_cast<uint8_t>(x + y));
        }
    return p;
}

// Undoes the stored-block deflate stream the writer produces, checking each
// block header and the trailing Adler-32.
std::vector<uint8_t> Unstore(const std::vector<uint8_t>& zlib) {
    std::vector<uint8_t> out;
    size_t at = 2;
    for (bool last = false; !last;) {
        EXPECT_LT(at + 5, zlib.size());
        last = zlib[at] & 1;
        const uint16_t n = static_cast<uint16_t>(zlib[at + 1] | zlib[at + 2] << 8);
        const uint16_t complement = static_cast<uint16_t>(zlib[at + 3] | zlib[at + 4] << 8);
        EXPECT_EQ(static_cast<uint16_t>(~n), complement);
        out.insert(out.end(), zlib.begin() + static_cast<long>(at + 5), zlib.begin() + static_cast<long>(at + 5 + n));
        at += 5 + n;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : out) a = (a + byte) % 65521, b = (b + a) % 65521;
    EXPECT_EQ(Be32(&zlib[at]), (b << 16) | a);
    return out;
}

TEST(ImageFiles, PngHoldsTheRowsInRgbOrder) {
    // Large enough for more than one stored block.
    const Picture picture = Gradient(150, 160);
    const std::string path = "image_files_test.png";
    ASSERT_TRUE(WritePng(path, picture));
    const std::vector<uint8_t> png = ReadFile(path);
    std::remove(path.c_str());
    ASSERT_GT(png.size(), 8u + 25u);
    EXPECT_EQ(png[1], 'P');

    std::vector<uint8_t> idat;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = Be32(&png[at]);
        const std::string type(png.begin() + static_cast<long>(at + 4), png.begin() + static_cast<long>(at + 8));
        if (type == "IHDR") {
            EXPECT_EQ(Be32(&png[at + 8]), 150u);
            EXPECT_EQ(Be32(&png[at + 12]), 160u);
        }
        if (type == "IDAT") idat.insert(idat.end(), png.begin() + static_cast<long>(at + 8),
                                        png.begin() + static_cast<long>(at + 8 + length));
        at += 12 + length;
    }
    const std::vector<uint8_t> raw = Unstore(idat);
    ASSERT_EQ(raw.size(), 160u * (150u * 3 + 1));
    const size_t row = 37, x = 41;
    const uint8_t* pixel = &raw[row * (150 * 3 + 1) + 1 + x * 3];
    EXPECT_EQ(pixel[0], picture.bgr[(row * 150 + x) * 3 + 2]);
    EXPECT_EQ(pixel[2], picture.bgr[(row * 150 + x) * 3 + 0]);
}

TEST(ImageFiles, BmpAndDibRowOrder) {
    // A bottom-up DIB: its first row in memory is the bottom of the picture.
    const int width = 3, height = 2, stride = 12;
    std::vector<uint8_t> dib(stride * height, 0);
    dib[0] = 0xAA;             // bottom-left blue
    dib[stride] = 0xBB;        // top-left blue
    Picture up = PictureFromDib(dib.data(), width, height);
    EXPECT_EQ(up.bgr[0], 0xBB);
    Picture down = PictureFromDib(dib.data(), width, -height);
    EXPECT_EQ(down.bgr[0], 0xAA);

    const std::string path = "image_files_test.bmp";
    ASSERT_TRUE(WriteBmp(path, up));
    const std::vector<uint8_t> bmp = ReadFile(path);
    std::remove(path.c_str());
    ASSERT_EQ(bmp.size(), 54u + stride * height);
    EXPECT_EQ(bmp[54], 0xBB) << "rows are stored top-down (negative height)";
}

}  // namespace
