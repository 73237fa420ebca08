#include "ico_file.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>

namespace make_icon {
namespace {

struct Weighted {
    std::array<int, 3> rgb;
    double count;
};

long Distance(const std::array<int, 3>& a, const std::array<int, 3>& b) {
    // Green matters most to the eye, blue least.
    long dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

std::array<int, 3> Mean(const std::vector<Weighted>& colours, size_t begin, size_t end) {
    std::array<double, 3> sum{0, 0, 0};
    double total = 0;
    for (size_t i = begin; i < end; ++i) {
        for (int c = 0; c < 3; ++c) {
            sum[c] += static_cast<double>(colours[i].rgb[c]) * colours[i].count;
        }
        total += colours[i].count;
    }
    return {static_cast<int>(sum[0] / total + 0.5), static_cast<int>(sum[1] / total + 0.5),
            static_cast<int>(sum[2] / total + 0.5)};
}

double SquaredError(const std::vector<Weighted>& colours, size_t begin, size_t end) {
    std::array<int, 3> mean = Mean(colours, begin, end);
    double error = 0;
    for (size_t i = begin; i < end; ++i) {
        error += static_cast<double>(Distance(colours[i].rgb, mean)) * colours[i].count;
    }
    return error;
}

std::vector<std::array<int, 3>> MedianCut(std::vector<Weighted> colours, size_t wanted) {
    struct Range {
        size_t begin, end;
    };
    std::vector<Range> boxes{{0, colours.size()}};
    while (boxes.size() < wanted) {
        size_t worst = boxes.size();
        double worst_error = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) {
                continue;
            }
            double error = SquaredError(colours, boxes[i].begin, boxes[i].end);
            if (error > worst_error) {
                worst_error = error;
                worst = i;
            }
        }
        if (worst == boxes.size()) {
            break;
        }
        Range box = boxes[worst];
        int axis = 0, widest = -1;
        for (int c = 0; c < 3; ++c) {
            auto [lo, hi] = std::minmax_element(
                colours.begin() + static_cast<long>(box.begin),
                colours.begin() + static_cast<long>(box.end),
                [c](const Weighted& a, const Weighted& b) { return a.rgb[c] < b.rgb[c]; });
            if (hi->rgb[c] - lo->rgb[c] > widest) {
                widest = hi->rgb[c] - lo->rgb[c];
                axis = c;
            }
        }
        std::sort(
            colours.begin() + static_cast<long>(box.begin),
            colours.begin() + static_cast<long>(box.end),
            [axis](const Weighted& a, const Weighted& b) { return a.rgb[axis] < b.rgb[axis]; });
        double total = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            total += colours[i].count;
        }
        size_t split = box.begin + 1;
        for (double seen = colours[box.begin].count; split < box.end - 1 && seen * 2 < total;
             ++split) {
            seen += colours[split].count;
        }
        boxes[worst] = {box.begin, split};
        boxes.push_back({split, box.end});
    }
    std::vector<std::array<int, 3>> palette;
    for (const Range& box : boxes) {
        palette.push_back(Mean(colours, box.begin, box.end));
    }
    // Median cut leaves entries off-centre; a few k-means rounds pull them to their members.
    for (int round = 0; round < 8; ++round) {
        std::vector<std::array<double, 4>> sums(palette.size(), {0, 0, 0, 0});
        for (const Weighted& w : colours) {
            size_t best = 0;
            for (size_t i = 1; i < palette.size(); ++i) {
                if (Distance(w.rgb, palette[i]) < Distance(w.rgb, palette[best])) {
                    best = i;
                }
            }
            for (int c = 0; c < 3; ++c) {
                sums[best][c] += static_cast<double>(w.rgb[c]) * w.count;
            }
            sums[best][3] += w.count;
        }
        for (size_t i = 0; i < palette.size(); ++i) {
            if (sums[i][3] > 0) {
                for (int c = 0; c < 3; ++c) {
                    palette[i][c] = static_cast<int>(sums[i][c] / sums[i][3] + 0.5);
                }
            }
        }
    }
    return palette;
}

void Put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(Bytes& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

size_t MaskStride(int size) {
    return static_cast<size_t>((size + 31) / 32 * 4);
}

void PutHeader(Bytes& out, int size, int bits) {
    size_t colour_bytes = static_cast<size_t>((size * bits / 8 + 3) / 4 * 4) * size;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));  // colour image and AND mask
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(bits));
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<uint32_t>(colour_bytes + MaskStride(size) * size));
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
}

// Rows bottom-up, as in every DIB; a set bit leaves the screen pixel visible.
void PutMask(Bytes& out, const Image& image, uint8_t min_alpha) {
    size_t stride = MaskStride(image.size);
    for (int y = image.size - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < image.size; ++x) {
            if (image.at(x, y).a < min_alpha) {
                row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
}

}  // namespace

Indexed Quantise(const Image& image) {
    std::map<uint32_t, double> counts;
    for (const Rgba& p : image.pixels) {
        if (p.a >= kOpaqueAlpha) {
            ++counts[static_cast<uint32_t>(p.r << 16 | p.g << 8 | p.b)];
        }
    }
    std::vector<Weighted> colours;
    for (const auto& [rgb, count] : counts) {
        colours.push_back({{static_cast<int>(rgb >> 16), static_cast<int>(rgb >> 8 & 0xFF),
                            static_cast<int>(rgb & 0xFF)},
                           count});
    }
    std::vector<std::array<int, 3>> chosen;
    if (colours.size() <= 255) {
        for (const Weighted& w : colours) {
            chosen.push_back(w.rgb);
        }
    } else {
        chosen = MedianCut(colours, 255);
    }
    Indexed result;
    result.palette.assign(256, Color{0, 0, 0});
    for (size_t i = 0; i < chosen.size(); ++i) {
        result.palette[i + 1] = {static_cast<uint8_t>(chosen[i][0]),
                                 static_cast<uint8_t>(chosen[i][1]),
                                 static_cast<uint8_t>(chosen[i][2])};
    }
    std::map<uint32_t, uint8_t> nearest;
    for (const Rgba& p : image.pixels) {
        if (p.a < kOpaqueAlpha) {
            result.index.push_back(0);
            continue;
        }
        uint32_t key = static_cast<uint32_t>(p.r << 16 | p.g << 8 | p.b);
        auto found = nearest.find(key);
        if (found == nearest.end()) {
            std::array<int, 3> rgb{p.r, p.g, p.b};
            size_t best = 0;
            long best_distance = std::numeric_limits<long>::max();
            for (size_t i = 0; i < chosen.size(); ++i) {
                long d = Distance(rgb, chosen[i]);
                if (d < best_distance) {
                    best_distance = d;
                    best = i;
                }
            }
            found = nearest.emplace(key, static_cast<uint8_t>(best + 1)).first;
        }
        result.index.push_back(found->second);
    }
    return result;
}

Bytes EncodeDib8(const Image& image) {
    Indexed indexed = Quantise(image);
    Bytes out;
    PutHeader(out, image.size, 8);
    for (const Color& c : indexed.palette) {
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    for (int y = image.size - 1; y >= 0; --y) {
        for (int x = 0; x < image.size; ++x) {
            out.push_back(indexed.index[static_cast<size_t>(y) * image.size + x]);
        }
        out.resize(out.size() + static_cast<size_t>(-image.size & 3));  // rows end on 4 bytes
    }
    PutMask(out, image, kOpaqueAlpha);
    return out;
}

Bytes EncodeDib32(const Image& image) {
    Bytes out;
    PutHeader(out, image.size, 32);
    for (int y = image.size - 1; y >= 0; --y) {
        for (int x = 0; x < image.size; ++x) {
            const Rgba& p = image.at(x, y);
            out.insert(out.end(), {p.b, p.g, p.r, p.a});
        }
    }
    // Only fully transparent pixels are masked out: where alpha is ignored, a faint edge pixel
    // is better shown than XOR-ed onto the screen.
    PutMask(out, image, 1);
    return out;
}

Bytes BuildIco(const std::vector<IconEntry>& entries) {
    Bytes out;
    Put16(out, 0);
    Put16(out, 1);  // icon, not cursor
    Put16(out, static_cast<unsigned>(entries.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * entries.size());
    for (const IconEntry& e : entries) {
        uint8_t side = static_cast<uint8_t>(e.size >= 256 ? 0 : e.size);  // 0 stands for 256
        out.insert(out.end(), {side, side, 0, 0});
        Put16(out, 1);
        Put16(out, static_cast<unsigned>(e.bits));
        Put32(out, static_cast<uint32_t>(e.dib.size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(e.dib.size());
    }
    for (const IconEntry& e : entries) {
        out.insert(out.end(), e.dib.begin(), e.dib.end());
    }
    return out;
}

}  // namespace make_icon
