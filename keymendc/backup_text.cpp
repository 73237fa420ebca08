#include "backup_text.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// regedit breaks hex lines after the comma that reaches this column.
constexpr std::size_t kHexLineLimit = 77;
constexpr DWORD kMaxKeyNameChars = 256;

std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            quoted += L'\\';
        }
        quoted += c;
    }
    return quoted + L"\"";
}

// The text a REG_SZ holds when the quoted form would give back exactly
// these bytes: one terminating NUL, no other, no line break.
bool AsPlainText(const BYTE* data, DWORD size, std::wstring* text) {
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0) {
        return false;
    }
    std::size_t chars = size / sizeof(wchar_t) - 1;
    std::wstring value(chars, L'\0');
    std::memcpy(&value[0], data, chars * sizeof(wchar_t));
    wchar_t last = 0;
    std::memcpy(&last, data + chars * sizeof(wchar_t), sizeof last);
    if (last != L'\0' || value.find_first_of(std::wstring(L"\0\r\n", 3)) != std::wstring::npos) {
        return false;
    }
    *text = value;
    return true;
}

std::wstring HexData(std::wstring line, const BYTE* data, DWORD size) {
    std::size_t column = line.size();
    for (DWORD i = 0; i < size; ++i) {
        wchar_t pair[3];
        std::swprintf(pair, 3, L"%02x", data[i]);
        line += pair;
        if (i + 1 == size) {
            break;
        }
        line += L',';
        column += 3;
        if (column >= kHexLineLimit) {
            line += L"\\\r\n  ";
            column = 2;
        }
    }
    return line + L"\r\n";
}

// A wide-call key handle that closes on every path out of a scope.
struct OpenedKey {
    OpenedKey() = default;
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ~OpenedKey() {
        if (key != nullptr) {
            RegCloseKey(key);
        }
    }
    HKEY key = nullptr;
};

LONG AppendValues(HKEY key, DWORD valueCount, DWORD maxNameChars, DWORD maxDataBytes,
                  std::wstring* text) {
    std::vector<wchar_t> name(maxNameChars + 1);
    std::vector<BYTE> data(maxDataBytes + 1);
    for (DWORD index = 0; index < valueCount; ++index) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataBytes = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG result = RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type,
                                    data.data(), &dataBytes);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        if (std::wcslen(name.data()) != nameChars) {
            return ERROR_INVALID_NAME;
        }
        *text += ValueLine(std::wstring(name.data(), nameChars), type, data.data(), dataBytes);
    }
    return ERROR_SUCCESS;
}

LONG AppendOpenKey(HKEY key, const std::wstring& fullName, std::wstring* text) {
    DWORD subkeys = 0;
    DWORD values = 0;
    DWORD maxNameChars = 0;
    DWORD maxDataBytes = 0;
    LONG result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, &maxNameChars, &maxDataBytes, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *text += L"[" + fullName + L"]\r\n";
    result = AppendValues(key, values, maxNameChars, maxDataBytes, text);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *text += L"\r\n";
    for (DWORD index = 0; index < subkeys; ++index) {
        wchar_t name[kMaxKeyNameChars];
        DWORD nameChars = kMaxKeyNameChars;
        result = RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        // A name holding a NUL can be neither opened by its text nor written to a .reg file.
        if (std::wcslen(name) != nameChars) {
            return ERROR_INVALID_NAME;
        }
        OpenedKey child;
        result = RegOpenKeyExW(key, name, 0, KEY_READ, &child.key);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        result = AppendOpenKey(child.key, fullName + L"\\" + std::wstring(name, nameChars), text);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::wstring ValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
    std::wstring line = name.empty() ? L"@=" : Quoted(name) + L"=";
    std::wstring plain;
    if (type == REG_SZ && AsPlainText(data, size, &plain)) {
        return line + Quoted(plain) + L"\r\n";
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        wchar_t digits[24];
        std::swprintf(digits, 24, L"dword:%08lx\r\n", static_cast<unsigned long>(value));
        return line + digits;
    }
    wchar_t prefix[24];
    if (type == REG_BINARY) {
        std::swprintf(prefix, 24, L"hex:");
    } else {
        std::swprintf(prefix, 24, L"hex(%lx):", static_cast<unsigned long>(type));
    }
    return HexData(line + prefix, data, size);
}

LONG AppendKeyTree(HKEY root, const wchar_t* rootName, const std::wstring& path,
                   std::wstring* text) {
    OpenedKey key;
    LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key.key);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return AppendOpenKey(key.key, std::wstring(rootName) + L"\\" + path, text);
}
