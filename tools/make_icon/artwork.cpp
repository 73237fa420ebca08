#include "artwork.h"

#include <string>
#include <utility>
#include <vector>

namespace make_icon {
namespace {

constexpr Color kRed{214, 38, 46};
constexpr Color kRedDeep{176, 22, 32};
constexpr Color kBlueTop{48, 114, 216};
constexpr Color kBlueMid{34, 92, 192};
constexpr Color kBlueBottom{20, 70, 166};
constexpr Color kBlueEdge{14, 50, 124};
constexpr Color kWhite{255, 255, 255};
constexpr Color kNodeBottom{218, 225, 234};
constexpr Color kRim{104, 116, 132};
constexpr Color kInk{24, 40, 66};
constexpr Color kSteelLight{236, 240, 244};
constexpr Color kSteelDark{132, 142, 154};
constexpr Color kSocket{32, 36, 44};
constexpr Color kPin{226, 231, 237};

using Rows = std::vector<std::string>;

// Colours of the hand-drawn cells; a lower-case letter is the colour of its capital at half
// strength, for hinted anti-aliasing over an opaque cell.
Layer CellLayer(const Rows& rows, char mark, Point origin) {
    struct Entry {
        char mark;
        Color colour;
    };
    static const Entry kCells[] = {{'K', kInk},        {'W', kWhite},     {'G', kRim},
                                   {'S', kSteelLight}, {'T', kSteelDark}, {'F', kSocket},
                                   {'P', kPin},        {'R', kRed},       {'B', kBlueMid},
                                   {'L', kBlueTop},    {'E', kBlueEdge}};
    char upper = (mark >= 'a' && mark <= 'z') ? static_cast<char>(mark - 'a' + 'A') : mark;
    for (const Entry& e : kCells) {
        if (e.mark == upper) {
            return {Bitmap(rows, mark, origin, 1.0), Solid(e.colour), upper == mark ? 1.0 : 0.5};
        }
    }
    return {Rect(0, 0, 0, 0), Solid(kWhite), 0.0};
}

void AddCells(Scene& scene, const Rows& rows, Point origin) {
    std::string seen;
    for (const std::string& row : rows) {
        for (char c : row) {
            if (c != '.' && seen.find(c) == std::string::npos) {
                seen += c;
                scene.push_back(CellLayer(rows, c, origin));
            }
        }
    }
}

// ---- The loop of arrows ----

struct Loop {
    Point centre;
    double radius;     // of the centre line
    double half;       // half the stroke width
    double head_half;  // half the width of an arrowhead
    double head_degrees;
    double from_degrees;  // where the right-hand arc leaves the USB node
    double tip_degrees;   // where its head ends, short of the DIN node
};

void AddLoop(Scene& scene, const Loop& loop, double size) {
    Paint red = Vertical(kRed, kRedDeep, size * 0.15, size * 0.85);
    Point c = loop.centre;
    // The left-hand arc is the right-hand one turned half a circle: DIN back to USB.
    for (double turn : {0.0, 180.0}) {
        double from = loop.from_degrees + turn, tip = loop.tip_degrees + turn;
        double base = tip - loop.head_degrees;
        scene.push_back({Intersect(Annulus(c, loop.radius - loop.half, loop.radius + loop.half),
                                   Sector(c, from, base)),
                         red});
        scene.push_back(
            {Polygon({Polar(c, loop.radius - loop.head_half, base),
                      Polar(c, loop.radius + loop.head_half, base), Polar(c, loop.radius, tip)}),
             red});
    }
}

// ---- The band and the name ----

struct Band {
    double x0, y0, x1, y1;
    double radius;
    double edge;  // width of the darker outline
};

void AddBand(Scene& scene, const Band& band) {
    scene.push_back({RoundRect(band.x0, band.y0, band.x1, band.y1, band.radius), Solid(kBlueEdge)});
    double e = band.edge;
    scene.push_back({RoundRect(band.x0 + e, band.y0 + e, band.x1 - e, band.y1 - e, band.radius - e),
                     Vertical(kBlueTop, kBlueBottom, band.y0 + e, band.y1 - e)});
}

// Depth for the large image only: a soft shadow under the band and a sheen on its upper half.
void AddBandDepth(Scene& before_band, Scene& after_band, const Band& band) {
    for (double spread : {6.0, 4.0, 2.0}) {
        before_band.push_back({RoundRect(band.x0 + 2, band.y0 + 4 - spread / 2, band.x1 - 2,
                                         band.y1 + spread, band.radius + spread),
                               Solid({0, 0, 0}), 0.12});
    }
    double e = band.edge + 1;
    double mid = (band.y0 + band.y1) / 2;
    after_band.push_back({RoundRect(band.x0 + e, band.y0 + e, band.x1 - e, mid, band.radius - e),
                          Solid(kWhite), 0.10});
    after_band.push_back(
        {Rect(band.x0 + band.radius, band.y0 + e, band.x1 - band.radius, band.y0 + e + 1.5),
         Solid(kWhite), 0.25});
}

// Bold geometric capitals of height h and stroke w, from the top-left corner (x, y).
Shape LetterD(double x, double y, double width, double h, double w) {
    double r = h / 2, straight = width - r;
    Shape bowl = Rect(x + straight, y, x + width, y + h);
    Shape outer =
        Union({Rect(x, y, x + straight, y + h), Intersect(Circle({x + straight, y + r}, r), bowl)});
    Shape inner = Union({Rect(x + w, y + w, x + straight, y + h - w),
                         Intersect(Circle({x + straight, y + r}, r - w), bowl)});
    return Minus(outer, inner);
}

Shape LetterU(double x, double y, double width, double h, double w) {
    double r = width / 2, straight = h - r;
    Shape outer = Union(
        {Rect(x, y, x + width, y + straight),
         Intersect(Circle({x + r, y + straight}, r), Rect(x, y + straight, x + width, y + h))});
    Shape inner = Union(
        {Rect(x + w, y - 1, x + width - w, y + straight), Circle({x + r, y + straight}, r - w)});
    return Minus(outer, inner);
}

Shape LetterV(double x, double y, double width, double h, double w) {
    double arm = w * 1.15, foot = w * 0.62, mid = x + width / 2;
    return Polygon({{x, y},
                    {x + arm, y},
                    {mid, y + h - w * 1.3},
                    {x + width - arm, y},
                    {x + width, y},
                    {mid + foot, y + h},
                    {mid - foot, y + h}});
}

Shape LetterA(double x, double y, double width, double h, double w) {
    double arm = w * 1.15, cap = w * 0.62, mid = x + width / 2;
    Shape legs = Polygon({{x, y + h},
                          {mid - cap, y},
                          {mid + cap, y},
                          {x + width, y + h},
                          {x + width - arm, y + h},
                          {mid, y + w * 1.3},
                          {x + arm, y + h}});
    Shape bar = Intersect(Rect(x, y + h * 0.60, x + width, y + h * 0.60 + w * 0.85),
                          Polygon({{x, y + h}, {mid, y}, {x + width, y + h}}));
    return Union({legs, bar});
}

void AddVectorName(Scene& scene, Point centre, double h, double w) {
    double widths[] = {0.83 * h, 0.78 * h, 0.87 * h, 0.91 * h}, gap = 0.22 * h;
    double x = centre.x - (widths[0] + widths[1] + widths[2] + widths[3] + 3 * gap) / 2;
    double y = centre.y - h / 2;
    Paint white = Solid(kWhite);
    scene.push_back({LetterD(x, y, widths[0], h, w), white});
    x += widths[0] + gap;
    scene.push_back({LetterU(x, y, widths[1], h, w), white});
    x += widths[1] + gap;
    scene.push_back({LetterV(x, y, widths[2], h, w), white});
    x += widths[2] + gap;
    scene.push_back({LetterA(x, y, widths[3], h, w), white});
}

// "DUVA" drawn for one pixel grid; rows are joined glyphs with their gaps.
const Rows kName32 = {
    "#####...##..##..##..##...####.",  //
    "##..##..##..##..##..##..##..##",  //
    "##..##..##..##..##..##..##..##",  //
    "##..##..##..##..##..##..######",  //
    "##..##..##..##..##..##..##..##",  //
    "##..##..##..##...####...##..##",  //
    "#####....####.....##....##..##",  //
};

const Rows kName48 = {
    "######....##....##..##....##....####...",  //
    "#######...##....##..##....##...######..",  //
    "##...###..##....##..##....##..###..###.",  //
    "##....##..##....##..###..###..##....##.",  //
    "##....##..##....##...##..##...########.",  //
    "##....##..##....##...###.##...########.",  //
    "##...###..###..###....####....##....##.",  //
    "#######....######.....####....##....##.",  //
    "######......####.......##.....##....##.",  //
};

void AddBitmapName(Scene& scene, const Rows& rows, Point origin) {
    scene.push_back({Bitmap(rows, '#', origin, 1.0), Solid(kWhite)});
}

// ---- The two nodes ----

void AddVectorUsbNode(Scene& scene, Point c, double r) {
    scene.push_back({Circle(c, r), Solid(kRim)});
    double face = r * 0.92;
    scene.push_back({Circle(c, face), Vertical(kWhite, kNodeBottom, c.y - face, c.y + face)});
    double u = r / 42 * 1.12;  // trident units; it was drawn for a node of radius 42
    auto at = [&](double x, double y) { return Point{c.x + x * u, c.y + y * u}; };
    double t = 6 * u;
    scene.push_back({Union({
                         Circle(at(-27, 0), 7.5 * u),
                         Capsule(at(-27, 0), at(18, 0), t),
                         Polygon({at(16, -9.5), at(33, 0), at(16, 9.5)}),
                         Capsule(at(-13, 0), at(-1, -13), t),
                         Capsule(at(-1, -13), at(11, -13), t),
                         Circle(at(15, -13), 5.5 * u),
                         Capsule(at(-3, 0), at(8, 12), t),
                         Capsule(at(8, 12), at(16, 12), t),
                         Polygon({at(15, 7), at(25, 7), at(25, 17), at(15, 17)}),
                     }),
                     Solid(kInk)});
}

void AddVectorDinNode(Scene& scene, Point c, double r) {
    scene.push_back({Circle(c, r), Solid(kRim)});
    double shell = r * 0.92, face = r * 0.69, notch = r * 0.12;
    scene.push_back(
        {Circle(c, shell), Vertical(kSteelLight, kSteelDark, c.y - shell, c.y + shell)});
    // The key of the socket cuts into the shell at the bottom.
    scene.push_back({Union({Circle(c, face), Rect(c.x - notch, c.y, c.x + notch, c.y + r * 0.86)}),
                     Solid(kSocket)});
    // The five contacts of a 180-degree DIN socket, on an arc over the top.
    for (double angle : {270.0, 315.0, 0.0, 45.0, 90.0}) {
        scene.push_back({Circle(Polar(c, r * 0.42, angle), r * 0.107), Solid(kPin)});
    }
}

// Tridents drawn for their grids: shaft on the middle row, base dot at the left, the arrowhead at
// the right, the round end up and the square end down.
const Rows kTrident48 = {
    "......kKk....",  //
    "......KKK....",  //
    ".....KkKk.K..",  //
    "kKk.K.....KK.",  //
    "KKKKKKKKKKKKK",  //
    "kKk..K....KK.",  //
    "......KKK.K..",  //
    "......KKK....",  //
    "......KKK....",  //
};

const Rows kTrident32 = {
    ".....KK..",  //
    "....KKK..",  //
    "kk.K...K.",  //
    "KKKKKKKKK",  //
    "kk..K..K.",  //
    ".....KK..",  //
    ".....KK..",  //
};

const Rows kDin32 = {
    "...GGGGG...",  //
    ".GGSSSSSGG.",  //
    ".GSFFPFFSG.",  //
    "GSFPFFFPFSG",  //
    "GSFFFFFFFSG",  //
    "GSPFFFFFPSG",  //
    "GTFFFFFFFTG",  //
    "GTFFFFFFFTG",  //
    ".GTFFFFFTG.",  //
    ".GGTTFTTGG.",  //
    "...GGGGG...",  //
};

// The whole picture, cell by cell: at 16 pixels the USB node is a white pill, the socket shows
// three contacts and the letters are 3 by 5 cells.
const Rows kPicture16 = {
    "....WWWWKKWW....",  //
    "..RKKWWKWWWKW...",  //
    ".RRKKKKKKKKKKR..",  //
    ".RRKKWWWKWWKWRR.",  //
    ".RR.WWWWWKKW.RR.",  //
    "LLLLLLLLLLLLLLLL",  //
    "BWWBBWBWBWBWBBWB",  //
    "BWBWBWBWBWBWBWBW",  //
    "BWBWBWBWBWBWBWWW",  //
    "BWBWBWBWBWBWBWBW",  //
    "BWWBBWWWBBWBBWBW",  //
    "EEEEEEGGGEEEEEEE",  //
    ".RR..GFPFG..RR..",  //
    "..RR.GPFPGRRRR..",  //
    "...RRGFFFGRRR...",  //
    "......GGG..R....",  //
};

void AddUsbDisc(Scene& scene, Point c, double r) {
    scene.push_back({Circle(c, r), Solid(kRim)});
    double face = r - 1;
    scene.push_back({Circle(c, face), Vertical(kWhite, kNodeBottom, c.y - face, c.y + face)});
}

Image DrawLarge() {
    Scene scene, sheen;
    Band band{2, 94, 254, 162, 12, 2};
    AddLoop(scene, {{128, 128}, 82, 11, 26, 23, 20, 148}, 256);
    AddBandDepth(scene, sheen, band);
    AddBand(scene, band);
    scene.insert(scene.end(), sheen.begin(), sheen.end());
    AddVectorName(scene, {128, 128}, 46, 13);
    AddVectorUsbNode(scene, {128, 46}, 42);
    AddVectorDinNode(scene, {128, 210}, 42);
    return Render(scene, 256, 6);
}

Image Draw48() {
    Scene scene;
    AddLoop(scene, {{24, 24}, 15.5, 2.2, 5.2, 26, 20, 147}, 48);
    AddBand(scene, {0, 18, 48, 31, 2, 1});
    AddBitmapName(scene, kName48, {5, 20});
    AddUsbDisc(scene, {24, 8.5}, 8);
    AddCells(scene, kTrident48, {18, 4});
    AddVectorDinNode(scene, {24, 39.5}, 8);
    return Render(scene, 48, 16);
}

Image Draw32() {
    Scene scene;
    AddLoop(scene, {{16, 16}, 10.3, 1.5, 3.6, 28, 20, 147}, 32);
    AddBand(scene, {0, 12, 32, 21, 1, 1});
    AddBitmapName(scene, kName32, {1, 13});
    AddUsbDisc(scene, {16, 6.5}, 6);
    AddCells(scene, kTrident32, {12, 3});
    AddCells(scene, kDin32, {11, 21});
    return Render(scene, 32, 16);
}

Image Draw16() {
    Scene scene;
    AddCells(scene, kPicture16, {0, 0});
    return Render(scene, 16, 4);
}

}  // namespace

Image DrawPicture(int size) {
    switch (size) {
        case 16:
            return Draw16();
        case 32:
            return Draw32();
        case 48:
            return Draw48();
        default:
            return DrawLarge();
    }
}

}  // namespace make_icon
