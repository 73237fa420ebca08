// Checks res/keymend.ico: the seven images in their order, sizes and depths, the DIB layout that
// Windows reads, masks that agree with the colours, and 8-bit images that stay true to the 32-bit
// ones. Usage: check_ico keymend.ico
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int failures = 0;

void Expect(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    }
}

uint32_t Get(const Bytes& b, size_t at, int width) {
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) {
        size_t p = at + static_cast<size_t>(i);
        v = v << 8 | (p < b.size() ? b[p] : 0u);
    }
    return v;
}

struct ImageFormat {
    int side, bits;
    uint32_t bytes;
};

const ImageFormat kFormats[] = {{48, 8, 3752},  {32, 8, 2216},  {16, 8, 1384}, {256, 32, 270376},
                                {48, 32, 9640}, {32, 32, 4264}, {16, 32, 1128}};

struct Pixel {
    int r, g, b, a;
};

// Decodes one DIB to straight RGBA, top row first; the AND mask makes a pixel transparent.
std::vector<Pixel> Decode(const Bytes& f, size_t at, const ImageFormat& s,
                          const std::string& name) {
    Expect(Get(f, at, 4) == 40, name + ": BITMAPINFOHEADER of 40 bytes (not PNG)");
    Expect(static_cast<int>(Get(f, at + 4, 4)) == s.side, name + ": width");
    Expect(static_cast<int>(Get(f, at + 8, 4)) == 2 * s.side, name + ": height holds the mask");
    Expect(Get(f, at + 12, 2) == 1, name + ": planes");
    Expect(static_cast<int>(Get(f, at + 14, 2)) == s.bits, name + ": bit count");
    Expect(Get(f, at + 16, 4) == 0, name + ": uncompressed");
    size_t palette = at + 40;
    size_t pixels = palette + (s.bits == 8 ? 1024 : 0);
    size_t stride = static_cast<size_t>(s.side * s.bits / 8 + 3) / 4 * 4;
    size_t mask = pixels + stride * static_cast<size_t>(s.side);
    size_t mask_stride = static_cast<size_t>((s.side + 31) / 32 * 4);
    Expect(mask + mask_stride * static_cast<size_t>(s.side) == at + s.bytes,
           name + ": header, palette, pixels and mask fill the image exactly");
    if (s.bits == 8) {
        Expect(Get(f, palette, 4) == 0, name + ": palette entry 0 is black");
    }
    std::vector<Pixel> out;
    bool mask_padding_clear = true, masked_colour_clear = true, mask_matches_alpha = true;
    for (int y = 0; y < s.side; ++y) {
        size_t row = static_cast<size_t>(s.side - 1 - y);  // rows are stored bottom-up
        for (int x = 0; x < s.side; ++x) {
            bool masked =
                f[mask + row * mask_stride + static_cast<size_t>(x / 8)] & (0x80 >> (x % 8));
            Pixel p{};
            if (s.bits == 8) {
                uint32_t index = f[pixels + row * stride + static_cast<size_t>(x)];
                uint32_t bgr = Get(f, palette + 4 * index, 4);
                p = {static_cast<int>(bgr >> 16 & 0xFF), static_cast<int>(bgr >> 8 & 0xFF),
                     static_cast<int>(bgr & 0xFF), masked ? 0 : 255};
                // A masked pixel's colour is XOR-ed onto the screen: it must be black.
                masked_colour_clear &= !masked || (bgr & 0xFFFFFF) == 0;
            } else {
                uint32_t bgra = Get(f, pixels + row * stride + 4 * static_cast<size_t>(x), 4);
                p = {static_cast<int>(bgra >> 16 & 0xFF), static_cast<int>(bgra >> 8 & 0xFF),
                     static_cast<int>(bgra & 0xFF), static_cast<int>(bgra >> 24)};
                mask_matches_alpha &= masked == (p.a == 0);
                masked_colour_clear &= !masked || bgra == 0;
            }
            out.push_back(p);
        }
        for (int x = s.side; x < static_cast<int>(mask_stride * 8); ++x) {
            mask_padding_clear &=
                !(f[mask + row * mask_stride + static_cast<size_t>(x / 8)] & (0x80 >> (x % 8)));
        }
    }
    Expect(mask_padding_clear, name + ": mask row padding is clear");
    Expect(masked_colour_clear, name + ": masked pixels are black");
    Expect(mask_matches_alpha, name + ": mask is set exactly where alpha is 0");
    return out;
}

bool IsBlue(const Pixel& p) {
    return p.b > p.r + 60 && p.b > p.g + 30;
}
bool IsWhite(const Pixel& p) {
    return p.r > 200 && p.g > 200 && p.b > 200;
}
bool IsRed(const Pixel& p) {
    return p.r > 150 && p.g < 90 && p.b < 90;
}
bool IsInk(const Pixel& p) {
    return p.r < 70 && p.g < 80 && p.b < 100;
}

// The picture, roughly: a blue band with white letters across the middle, red in the loop, dark
// ink in the USB symbol and the DIN socket, and transparent corners.
void CheckPicture(const std::vector<Pixel>& px, int side, const std::string& name) {
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y * side + x)]; };
    int band = 0, letters = 0, red = 0, ink_top = 0, ink_bottom = 0, opaque = 0;
    for (int x = 0; x < side; ++x) {
        const Pixel& p = at(x, side / 2);
        band += p.a >= 128 && (IsBlue(p) || IsWhite(p));
        letters += p.a >= 128 && IsWhite(p);
    }
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const Pixel& p = at(x, y);
            if (p.a < 128) {
                continue;
            }
            ++opaque;
            red += IsRed(p);
            ink_top += y < side / 3 && IsInk(p);
            ink_bottom += y > side * 2 / 3 && IsInk(p);
        }
    }
    Expect(band >= side * 9 / 10, name + ": band across the middle row");
    Expect(letters >= side / 5 && letters <= side * 3 / 5, name + ": letters on the band");
    Expect(red >= side, name + ": red loop");
    Expect(ink_top >= side / 4 && ink_bottom >= side / 4, name + ": both symbols drawn");
    Expect(opaque > side * side * 2 / 5 && opaque < side * side * 9 / 10,
           name + ": a shape, neither empty nor a filled square");
    Expect(at(0, 0).a == 0 && at(side - 1, side - 1).a == 0, name + ": transparent corners");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: check_ico keymend.ico\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    Bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Expect(Get(f, 0, 2) == 0 && Get(f, 2, 2) == 1 && Get(f, 4, 2) == 7,
           "ICONDIR: reserved 0, type icon, 7 images");
    uint32_t next = 6 + 16 * 7;
    std::vector<std::vector<Pixel>> images;
    for (int i = 0; i < 7; ++i) {
        const ImageFormat& s = kFormats[i];
        size_t e = 6 + 16 * static_cast<size_t>(i);
        std::string name = "image " + std::to_string(i + 1) + " (" + std::to_string(s.side) +
                           "px " + std::to_string(s.bits) + "bpp)";
        uint32_t stored = s.side == 256 ? 0 : static_cast<uint32_t>(s.side);
        Expect(Get(f, e, 1) == stored && Get(f, e + 1, 1) == stored, name + ": entry size");
        Expect(Get(f, e + 2, 1) == 0 && Get(f, e + 3, 1) == 0, name + ": colour count, reserved");
        Expect(Get(f, e + 4, 2) == 1, name + ": entry planes");
        Expect(static_cast<int>(Get(f, e + 6, 2)) == s.bits, name + ": entry bit count");
        Expect(Get(f, e + 8, 4) == s.bytes, name + ": entry bytes");
        Expect(Get(f, e + 12, 4) == next, name + ": stored right after the one before");
        next += s.bytes;
        if (f.size() < next) {
            Expect(false, name + ": inside the file");
            break;
        }
        images.push_back(Decode(f, next - s.bytes, s, name));
        CheckPicture(images.back(), s.side, name);
    }
    Expect(f.size() == next, "file ends after the last image");
    if (images.size() == 7) {
        // Images 1-3 are the 8-bit forms of images 5-7.
        for (int i = 0; i < 3; ++i) {
            const std::vector<Pixel>& low = images[static_cast<size_t>(i)];
            const std::vector<Pixel>& full = images[static_cast<size_t>(i + 4)];
            int side = kFormats[i].side, opaque = 0, worst = 0;
            long total = 0;
            bool same_shape = true;
            for (size_t p = 0; p < low.size(); ++p) {
                same_shape &= (low[p].a != 0) == (full[p].a >= 128);
                if (low[p].a != 0) {
                    int d = std::abs(low[p].r - full[p].r) + std::abs(low[p].g - full[p].g) +
                            std::abs(low[p].b - full[p].b);
                    worst = d > worst ? d : worst;
                    total += d;
                    ++opaque;
                }
            }
            double mean = opaque != 0 ? static_cast<double>(total) / opaque : 0.0;
            std::printf("%dpx: 8-bit error per pixel (sum of |dR|+|dG|+|dB|): mean %.2f, max %d\n",
                        side, mean, worst);
            std::string name = std::to_string(side) + "px 8-bit image";
            Expect(same_shape, name + ": opaque exactly where the 32-bit alpha is at least 128");
            Expect(mean <= 4.0 && worst <= 60, name + ": colours close to the 32-bit image");
        }
    }
    if (failures != 0) {
        std::fprintf(stderr, "check_ico: %d failure(s)\n", failures);
        return 1;
    }
    std::printf("check_ico: 7 images as required\n");
    return 0;
}
