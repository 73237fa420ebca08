// Icon images as uncompressed DIBs (colour image plus AND mask) and the .ico container.
#ifndef KEYMEND_TOOLS_MAKE_ICON_ICO_FILE_H_
#define KEYMEND_TOOLS_MAKE_ICON_ICO_FILE_H_

#include <cstdint>
#include <vector>

#include "raster.h"

namespace make_icon {

using Bytes = std::vector<uint8_t>;

// Pixels at or above this alpha are opaque in the 8-bit images, whose only transparency is the
// AND mask; the same threshold keeps both depths of one size in step.
constexpr uint8_t kOpaqueAlpha = 128;

struct Indexed {
    std::vector<Color> palette;  // 256 entries; entry 0 is black and marks transparent pixels
    std::vector<uint8_t> index;  // one per pixel, row-major, top row first
};

// Exact palette when the opaque pixels use at most 255 colours, else median cut refined by a few
// rounds of k-means.
Indexed Quantise(const Image& image);

Bytes EncodeDib8(const Image& image);
Bytes EncodeDib32(const Image& image);

struct IconEntry {
    int size;
    int bits;
    Bytes dib;
};

Bytes BuildIco(const std::vector<IconEntry>& entries);

}  // namespace make_icon

#endif  // KEYMEND_TOOLS_MAKE_ICON_ICO_FILE_H_
