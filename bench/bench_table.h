// The one table that every benchmark program prints: one row per measure,
// as Markdown, so that the host and Wine programs' rows join into one table.
#pragma once

#include <cstdio>
#include <string>

struct BenchRow {
    std::string measure;
    std::string keys;
    std::string value;
    std::string versusFloor;
    std::string versusMinimal;
    std::string target;
    std::string met;  // "yes", "no", or empty without a target
};

inline void PrintBenchHeader(std::FILE* out) {
    std::fprintf(out, "| Measure | Keys | Result | vs floor | vs minimal | Target | Met |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---|---|\n");
}

inline void PrintBenchRow(std::FILE* out, const BenchRow& row) {
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s | %s |\n", row.measure.c_str(),
                 row.keys.c_str(), row.value.c_str(), row.versusFloor.c_str(),
                 row.versusMinimal.c_str(), row.target.c_str(), row.met.c_str());
}

inline std::string GroupedCount(unsigned long long value) {
    std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[i]);
    }
    return grouped;
}

inline std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

inline std::string Milliseconds(double seconds) {
    return Fixed(seconds * 1000.0, seconds < 0.01 ? 2 : 1) + " ms";
}

inline std::string Ratio(double value) {
    return Fixed(value, 2) + "x";
}

inline std::string YesNo(bool met) {
    return met ? "yes" : "no";
}
