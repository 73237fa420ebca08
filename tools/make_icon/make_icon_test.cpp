// Tests of the rasteriser and the 8-bit encoding, on small synthetic pictures.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ico_file.h"
#include "raster.h"

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    }
}

using namespace make_icon;

double Coverage(const Image& image) {
    double sum = 0;
    for (const Rgba& p : image.pixels) {
        sum += p.a / 255.0;
    }
    return sum;
}

void TestCoverage() {
    // Area is what anti-aliasing preserves: a circle and a half-pixel-aligned square.
    Image circle = Render({{Circle({16, 16}, 10), Solid({255, 0, 0})}}, 32, 16);
    Expect(std::fabs(Coverage(circle) - 3.14159265 * 100) < 1.0, "circle covers pi r^2");
    Image square = Render({{Rect(2.5, 2.5, 6.5, 6.5), Solid({0, 0, 255})}}, 8, 16);
    Expect(std::fabs(Coverage(square) - 16) < 0.1, "square covers its area");
    Expect(std::abs(square.at(2, 3).a - 128) <= 1 && std::abs(square.at(2, 2).a - 64) <= 1,
           "edge pixels half covered, corner pixels a quarter");
    Expect(square.at(3, 3).a == 255 && square.at(1, 1).a == 0, "inside opaque, outside clear");
    // Partly covered pixels keep the straight colour; only alpha falls off.
    Expect(square.at(2, 3).b == 255 && square.at(2, 3).r == 0, "edge colour not darkened");
}

void TestLayers() {
    Scene scene{{Rect(0, 0, 4, 4), Solid({255, 0, 0})},
                {Rect(0, 0, 2, 4), Solid({0, 0, 255})},
                {Rect(0, 0, 4, 2), Solid({255, 255, 255}), 0.5}};
    Image image = Render(scene, 4, 4);
    const Rgba& top_left = image.at(0, 0);  // blue under half-strength white
    const Rgba& bottom_right = image.at(3, 3);
    Expect(top_left.a == 255 && std::abs(top_left.r - 128) <= 1 && top_left.b == 255,
           "later layers paint over earlier ones, with their opacity");
    Expect(bottom_right.r == 255 && bottom_right.b == 0, "uncovered layers leave colour alone");
    Image sector =
        Render({{Intersect(Circle({8, 8}, 8), Sector({8, 8}, 0, 90)), Solid({0, 0, 0})}}, 16, 8);
    Expect(sector.at(12, 4).a == 255 && sector.at(4, 4).a == 0 && sector.at(12, 12).a == 0,
           "a 0-90 degree sector is the upper right quarter");
}

void TestBitmapCells() {
    Image image = Render({{Bitmap({"#.", ".#"}, '#', {1, 1}, 1), Solid({1, 2, 3})}}, 4, 4);
    Expect(image.at(1, 1).a == 255 && image.at(2, 2).a == 255, "marked cells filled");
    Expect(image.at(2, 1).a == 0 && image.at(0, 0).a == 0, "other cells empty");
}

Image Gradient() {
    // Far more colours than a palette holds: a hue sweep with a brightness ramp.
    Image image;
    image.size = 48;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 48; ++x) {
            image.pixels.push_back({static_cast<uint8_t>(x * 5), static_cast<uint8_t>(y * 5),
                                    static_cast<uint8_t>(255 - (x + y) * 2),
                                    static_cast<uint8_t>(x < 4 ? 0 : 255)});
        }
    }
    return image;
}

void TestQuantise() {
    Image image = Gradient();
    Indexed indexed = Quantise(image);
    Expect(indexed.palette.size() == 256 && indexed.palette[0].r == 0 &&
               indexed.palette[0].g == 0 && indexed.palette[0].b == 0,
           "256 entries, the first black");
    double error = 0;
    int opaque = 0;
    bool clear_is_zero = true, opaque_not_zero = true;
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const Rgba& p = image.pixels[i];
        uint8_t index = indexed.index[i];
        if (p.a < kOpaqueAlpha) {
            clear_is_zero &= index == 0;
            continue;
        }
        opaque_not_zero &= index != 0;
        const Color& c = indexed.palette[index];
        error += std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b);
        ++opaque;
    }
    Expect(clear_is_zero && opaque_not_zero, "index 0 exactly for the transparent pixels");
    Expect(error / opaque < 12, "median cut keeps a smooth gradient close: mean error " +
                                    std::to_string(error / opaque));

    Image few;
    few.size = 16;
    for (int i = 0; i < 256; ++i) {
        few.pixels.push_back(
            {static_cast<uint8_t>(i % 200), 7, 9, static_cast<uint8_t>(i % 2 ? 255 : 127)});
    }
    Indexed exact = Quantise(few);
    bool same = true;
    for (size_t i = 0; i < few.pixels.size(); ++i) {
        if (few.pixels[i].a == 255) {
            const Color& c = exact.palette[exact.index[i]];
            same &= c.r == few.pixels[i].r && c.g == 7 && c.b == 9;
        } else {
            same &= exact.index[i] == 0;
        }
    }
    Expect(same, "up to 255 colours are kept exactly; alpha 127 counts as transparent");
}

void TestDibLayout() {
    Image image = Gradient();
    Bytes dib8 = EncodeDib8(image);
    Bytes dib32 = EncodeDib32(image);
    Expect(dib8.size() == 3752 && dib32.size() == 9640, "48-pixel images of 3752 and 9640 bytes");
    // Bottom-up rows: the first stored pixel is the bottom-left one, which is transparent, and the
    // first mask byte covers it.
    size_t pixels32 = 40;
    Expect(dib32[pixels32 + 3] == 0 && dib32[pixels32 + 4 * 47 + 3] == 255,
           "32-bit rows start at the bottom left");
    size_t mask32 = 40 + 48 * 48 * 4;
    Expect(dib32[mask32] == 0xF0 && dib32[mask32 + 1] == 0, "mask marks the first 4 columns");
    Expect(dib32[mask32 + 6] == 0 && dib32[mask32 + 7] == 0, "mask rows padded with zeros");
    Bytes ico = BuildIco({{256, 32, Bytes(10, 1)}, {48, 8, Bytes(20, 2)}});
    Expect(ico.size() == 6 + 32 + 30 && ico[6] == 0 && ico[22] == 48, "256 is stored as 0");
    Expect(ico[6 + 12] == 38 && ico[22 + 12] == 48, "images follow the directory in order");
}

}  // namespace

int main() {
    TestCoverage();
    TestLayers();
    TestBitmapCells();
    TestQuantise();
    TestDibLayout();
    if (failures != 0) {
        std::fprintf(stderr, "make_icon_test: %d failure(s)\n", failures);
        return 1;
    }
    std::printf("make_icon_test: all passed\n");
    return 0;
}
