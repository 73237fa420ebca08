#include "raster.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace make_icon {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Clock-face angle of (x, y) seen from the centre, in [0, 360).
double ClockAngle(Point centre, double x, double y) {
    double degrees = std::atan2(x - centre.x, centre.y - y) * 180.0 / kPi;
    return degrees < 0 ? degrees + 360.0 : degrees;
}

Box Enclose(const std::vector<Point>& points) {
    Box box{points[0].x, points[0].y, points[0].x, points[0].y};
    for (const Point& p : points) {
        box.x0 = std::min(box.x0, p.x);
        box.y0 = std::min(box.y0, p.y);
        box.x1 = std::max(box.x1, p.x);
        box.y1 = std::max(box.y1, p.y);
    }
    return box;
}

double DistanceToSegment(Point a, Point b, double x, double y) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    double px = a.x + t * dx - x, py = a.y + t * dy - y;
    return std::sqrt(px * px + py * py);
}

uint8_t Channel(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

constexpr Box kUnbounded{-1e9, -1e9, 1e9, 1e9};

}  // namespace

Point Polar(Point centre, double radius, double degrees) {
    double radians = degrees * kPi / 180.0;
    return {centre.x + radius * std::sin(radians), centre.y - radius * std::cos(radians)};
}

Shape Circle(Point c, double r) {
    return {{c.x - r, c.y - r, c.x + r, c.y + r}, [c, r](double x, double y) {
                return (x - c.x) * (x - c.x) + (y - c.y) * (y - c.y) <= r * r;
            }};
}

Shape Annulus(Point c, double inner, double outer) {
    return {{c.x - outer, c.y - outer, c.x + outer, c.y + outer},
            [c, inner, outer](double x, double y) {
                double d2 = (x - c.x) * (x - c.x) + (y - c.y) * (y - c.y);
                return d2 >= inner * inner && d2 <= outer * outer;
            }};
}

Shape Rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0, x1, y1},
            [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; }};
}

Shape RoundRect(double x0, double y0, double x1, double y1, double r) {
    return {{x0, y0, x1, y1}, [=](double x, double y) {
                if (x < x0 || x >= x1 || y < y0 || y >= y1) {
                    return false;
                }
                double cx = std::clamp(x, x0 + r, x1 - r);
                double cy = std::clamp(y, y0 + r, y1 - r);
                return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
            }};
}

Shape Polygon(std::vector<Point> points) {
    Box box = Enclose(points);
    return {box, [points = std::move(points)](double x, double y) {
                int winding = 0;
                size_t n = points.size();
                for (size_t i = 0; i < n; ++i) {
                    const Point& a = points[i];
                    const Point& b = points[(i + 1) % n];
                    double side = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
                    if (a.y <= y && b.y > y && side > 0) {
                        ++winding;
                    } else if (a.y > y && b.y <= y && side < 0) {
                        --winding;
                    }
                }
                return winding != 0;
            }};
}

Shape Capsule(Point a, Point b, double width) {
    double h = width / 2;
    Box box{std::min(a.x, b.x) - h, std::min(a.y, b.y) - h, std::max(a.x, b.x) + h,
            std::max(a.y, b.y) + h};
    return {box, [=](double x, double y) { return DistanceToSegment(a, b, x, y) <= h; }};
}

Shape Sector(Point c, double from, double to) {
    return {kUnbounded, [=](double x, double y) {
                double angle = ClockAngle(c, x, y);
                if (from <= to) {
                    return angle >= from && angle <= to;
                }
                return angle >= from || angle <= to;  // wraps through 12 o'clock
            }};
}

Shape Union(std::vector<Shape> parts) {
    Box box{1e9, 1e9, -1e9, -1e9};
    for (const Shape& s : parts) {
        box.x0 = std::min(box.x0, s.bounds.x0);
        box.y0 = std::min(box.y0, s.bounds.y0);
        box.x1 = std::max(box.x1, s.bounds.x1);
        box.y1 = std::max(box.y1, s.bounds.y1);
    }
    return {box, [parts = std::move(parts)](double x, double y) {
                for (const Shape& s : parts) {
                    if (x >= s.bounds.x0 && x <= s.bounds.x1 && y >= s.bounds.y0 &&
                        y <= s.bounds.y1 && s.contains(x, y)) {
                        return true;
                    }
                }
                return false;
            }};
}

Shape Intersect(Shape a, Shape b) {
    Box box{std::max(a.bounds.x0, b.bounds.x0), std::max(a.bounds.y0, b.bounds.y0),
            std::min(a.bounds.x1, b.bounds.x1), std::min(a.bounds.y1, b.bounds.y1)};
    return {box, [a = std::move(a), b = std::move(b)](double x, double y) {
                return a.contains(x, y) && b.contains(x, y);
            }};
}

Shape Minus(Shape a, Shape b) {
    Box box = a.bounds;
    return {box, [a = std::move(a), b = std::move(b)](double x, double y) {
                return a.contains(x, y) && !b.contains(x, y);
            }};
}

Shape Bitmap(const std::vector<std::string>& rows, char mark, Point origin, double cell) {
    size_t width = 0;
    for (const std::string& row : rows) {
        width = std::max(width, row.size());
    }
    Box box{origin.x, origin.y, origin.x + cell * static_cast<double>(width),
            origin.y + cell * static_cast<double>(rows.size())};
    return {box, [rows, mark, origin, cell](double x, double y) {
                double fx = std::floor((x - origin.x) / cell);
                double fy = std::floor((y - origin.y) / cell);
                if (fx < 0 || fy < 0 || fy >= static_cast<double>(rows.size())) {
                    return false;
                }
                const std::string& row = rows[static_cast<size_t>(fy)];
                return fx < static_cast<double>(row.size()) && row[static_cast<size_t>(fx)] == mark;
            }};
}

Color Paint::At(double x, double y) const {
    if (from.r == to.r && from.g == to.g && from.b == to.b) {
        return from;
    }
    double dx = p1.x - p0.x, dy = p1.y - p0.y;
    double t = std::clamp(((x - p0.x) * dx + (y - p0.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    auto mix = [t](uint8_t a, uint8_t b) { return Channel(a + (b - a) * t); };
    return {mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
}

Paint Solid(Color c) {
    return {c, c};
}

Paint Vertical(Color top, Color bottom, double y0, double y1) {
    return {top, bottom, {0, y0}, {0, y1}};
}

Image Render(const Scene& scene, int size, int samples) {
    Image image;
    image.size = size;
    image.pixels.resize(static_cast<size_t>(size) * size);
    std::vector<const Layer*> local;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            local.clear();
            for (const Layer& layer : scene) {
                const Box& b = layer.shape.bounds;
                if (b.x1 >= px && b.x0 <= px + 1 && b.y1 >= py && b.y0 <= py + 1) {
                    local.push_back(&layer);
                }
            }
            // Premultiplied sums over the subsamples.
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < samples && !local.empty(); ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    double x = px + (sx + 0.5) / samples;
                    double y = py + (sy + 0.5) / samples;
                    double cr = 0, cg = 0, cb = 0, ca = 0;
                    for (const Layer* layer : local) {
                        if (!layer->shape.contains(x, y)) {
                            continue;
                        }
                        Color c = layer->paint.At(x, y);
                        double o = layer->opacity;
                        cr = c.r * o + cr * (1 - o);
                        cg = c.g * o + cg * (1 - o);
                        cb = c.b * o + cb * (1 - o);
                        ca = o + ca * (1 - o);
                    }
                    r += cr;
                    g += cg;
                    b += cb;
                    a += ca;
                }
            }
            Rgba& out = image.at(px, py);
            if (a <= 0) {
                out = {0, 0, 0, 0};
                continue;
            }
            double n = static_cast<double>(samples) * samples;
            out = {Channel(r / a), Channel(g / a), Channel(b / a), Channel(a / n * 255.0)};
            if (out.a == 0) {
                out = {0, 0, 0, 0};
            }
        }
    }
    return image;
}

}  // namespace make_icon
