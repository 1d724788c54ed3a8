#pragma once
// The bitmap that the container's bitmap tags write and read: width x height
// pixels, each a 24-bit colour value. The value is laid out as the pixel
// codes of a container file show it: red in the low byte, green in the
// middle byte, blue in the high byte (0xBBGGRR), so the six hexadecimal
// digits of a code are blue, green, red.

#include <cstdint>
#include <vector>

namespace kwd::container {

class TBitmap {
public:
    static constexpr uint32_t kColourMask = 0xFFFFFF;

    TBitmap() = default;
    // Negative sizes count as 0; every pixel gets the colour.
    TBitmap(int32_t width, int32_t height, uint32_t colour = 0) { SetSize(width, height, colour); }

    // Resizes to width x height (negative counts as 0) and sets every pixel to
    // the colour; earlier pixels are not kept.
    void SetSize(int32_t width, int32_t height, uint32_t colour = 0) {
        fWidth = width > 0 ? width : 0;
        fHeight = height > 0 ? height : 0;
        fPixels.assign(size_t(fWidth) * size_t(fHeight), colour & kColourMask);
    }
    int32_t Width() const { return fWidth; }
    int32_t Height() const { return fHeight; }

    // The pixel at column x of row y (row 0 on top); 0 outside the bitmap.
    uint32_t Pixel(int32_t x, int32_t y) const {
        return Inside(x, y) ? fPixels[size_t(y) * size_t(fWidth) + size_t(x)] : 0;
    }
    // Sets a pixel (bits above 24 are dropped); outside the bitmap nothing happens.
    void SetPixel(int32_t x, int32_t y, uint32_t colour) {
        if (Inside(x, y)) fPixels[size_t(y) * size_t(fWidth) + size_t(x)] = colour & kColourMask;
    }
    bool Inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < fWidth && y < fHeight; }

    // The colour value of red, green and blue parts.
    static constexpr uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue) {
        return uint32_t(red) | (uint32_t(green) << 8) | (uint32_t(blue) << 16);
    }

    bool operator==(const TBitmap&) const = default;

private:
    int32_t fWidth = 0, fHeight = 0;
    std::vector<uint32_t> fPixels;  // row by row from the top
};

}  // namespace kwd::container
