// The placeholder frame: corner colour as background, the picture centred
// and upright, rows packed from the top down.
#include <gtest/gtest.h>

#include <vector>

#include "watchdog/common/names.h"
#include "watchdog/proxy/placeholder_frame.h"
#include "win32/gdi.h"

namespace orvo::watchdog {
namespace {

struct Bgr {
    uint8_t b, g, r;
};

Bgr At(const std::vector<uint8_t>& frame, int width, int x, int y) {
    const uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
}

TEST(Placeholder, ResourceIsA24BitPictureWithAWhiteCorner) {
    win32::UniqueBitmap image(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                              MAKEINTRESOURCEW(kResourcePlaceholder), IMAGE_BITMAP, 0,
                                                              0, LR_CREATEDIBSECTION)));
    ASSERT_TRUE(image);
    DIBSECTION dib{};
    ASSERT_TRUE(GetObjectW(image.get(), sizeof(dib), &dib));
    EXPECT_EQ(165, dib.dsBm.bmWidth);
    EXPECT_EQ(142, dib.dsBm.bmHeight);
    EXPECT_EQ(24, dib.dsBm.bmBitsPixel);
    wchar_t text[16] = L"";
    EXPECT_EQ(5, LoadStringW(GetModuleHandleW(nullptr), kResourceProxyString, text, 16));
    EXPECT_STREQ(L"Proxy", text);
}

TEST(Placeholder, FrameIsCentredUprightAndPacked) {
    win32::UniqueBitmap image(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                              MAKEINTRESOURCEW(kResourcePlaceholder), IMAGE_BITMAP, 0,
                                                              0, LR_CREATEDIBSECTION)));
    ASSERT_TRUE(image);
    // An odd width: GDI pads the DIB's rows, the frame must not carry that.
    const int width = 641, height = 480;
    std::vector<uint8_t> frame;
    ASSERT_EQ(S_OK, RenderPlaceholder(image.get(), width, height, frame));
    ASSERT_EQ(static_cast<size_t>(width) * height * 3, frame.size());
    for (auto [x, y] : {std::pair{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}}) {
        const Bgr p = At(frame, width, x, y);
        EXPECT_TRUE(p.b == 255 && p.g == 255 && p.r == 255) << x << "," << y;
    }
    // The picture's centre lands on the frame's centre; the camera's
    // viewfinder is above its body, so an upside-down copy shows white there.
    const int cx = width / 2 - 165 / 2 + 82, cy = height / 2 - 142 / 2 + 71;
    const Bgr viewfinder = At(frame, width, cx - 8, cy - 27);
    EXPECT_GT(viewfinder.r, 150);
    EXPECT_LT(viewfinder.g, 60);
    const Bgr below = At(frame, width, cx - 8, cy + 27);
    EXPECT_EQ(255, below.g);
    // The "no" sign's ring, left and right of the centre.
    EXPECT_EQ(0, At(frame, width, cx - 62, cy).g);
    EXPECT_EQ(0, At(frame, width, cx + 62, cy).g);
}

TEST(Placeholder, MissingImageIsRefused) {
    std::vector<uint8_t> frame;
    EXPECT_EQ(E_UNEXPECTED, RenderPlaceholder(nullptr, 64, 48, frame));
}

}  // namespace
}  // namespace orvo::watchdog
