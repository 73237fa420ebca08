// A tiny coverage rasteriser: shapes are point predicates, painted in order and averaged over a
// grid of subsamples per pixel. Slow but exact enough for icons and free of dependencies.
#ifndef KEYMEND_TOOLS_MAKE_ICON_RASTER_H_
#define KEYMEND_TOOLS_MAKE_ICON_RASTER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace make_icon {

struct Point {
    double x;
    double y;
};

struct Box {
    double x0, y0, x1, y1;
};

struct Color {
    uint8_t r, g, b;
};

// Straight (not premultiplied) colour with alpha.
struct Rgba {
    uint8_t r, g, b, a;
};

struct Image {
    int size = 0;
    std::vector<Rgba> pixels;  // row-major, top row first
    Rgba& at(int x, int y) { return pixels[static_cast<size_t>(y) * size + x]; }
    const Rgba& at(int x, int y) const { return pixels[static_cast<size_t>(y) * size + x]; }
};

struct Shape {
    Box bounds;
    std::function<bool(double, double)> contains;
};

// Angles are in degrees, clockwise from 12 o'clock, as on a clock face.
Point Polar(Point centre, double radius, double degrees);

Shape Circle(Point centre, double radius);
Shape Annulus(Point centre, double inner, double outer);
Shape Rect(double x0, double y0, double x1, double y1);
Shape RoundRect(double x0, double y0, double x1, double y1, double radius);
Shape Polygon(std::vector<Point> points);  // non-zero winding
Shape Capsule(Point a, Point b, double width);
Shape Sector(Point centre, double from_degrees, double to_degrees);  // unbounded wedge
Shape Union(std::vector<Shape> parts);
Shape Intersect(Shape a, Shape b);
Shape Minus(Shape a, Shape b);
// Pixel-art mask: the cells of `cell` units that hold `mark`; rows top to bottom.
Shape Bitmap(const std::vector<std::string>& rows, char mark, Point origin, double cell);

// Linear gradient from `from` at p0 to `to` at p1; solid when both colours are equal.
struct Paint {
    Color from;
    Color to;
    Point p0{0, 0};
    Point p1{0, 1};
    Color At(double x, double y) const;
};

Paint Solid(Color c);
Paint Vertical(Color top, Color bottom, double y0, double y1);

struct Layer {
    Shape shape;
    Paint paint;
    double opacity = 1.0;
};

using Scene = std::vector<Layer>;  // bottom layer first

// Renders `scene` on a size x size canvas with samples x samples subsamples per pixel.
Image Render(const Scene& scene, int size, int samples);

}  // namespace make_icon

#endif  // KEYMEND_TOOLS_MAKE_ICON_RASTER_H_
