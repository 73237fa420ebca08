#include "wide_digits.h"

#include <algorithm>

std::wstring Decimal(long long value) {
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    std::wstring text;
    do {
        text += static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        text += L'-';
    }
    std::reverse(text.begin(), text.end());
    return text;
}

std::wstring Hex(unsigned long long value, int digits) {
    std::wstring text;
    do {
        text += L"0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < digits) {
        text += L'0';
    }
    std::reverse(text.begin(), text.end());
    return text;
}
