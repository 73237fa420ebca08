#include "backup_text.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "key_as_named.h"
#include "scoped_hkey.h"
#include "wide_digits.h"

namespace {

// regedit breaks hex lines after the comma that reaches this column.
constexpr std::size_t kHexLineLimit = 77;

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
        line += Hex(data[i], 2);
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

// A name a .reg file can hold: a NUL ends it early, and a line break
// splits its line, so reg import would lose it or write the lines after it
// into the wrong key.
bool FitsRegFile(const wchar_t* name, DWORD chars) {
    return std::wcslen(name) == chars && std::wcspbrk(name, L"\r\n") == nullptr;
}

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
        if (!FitsRegFile(name.data(), nameChars)) {
            return ERROR_INVALID_NAME;
        }
        *text += ValueLine(std::wstring(name.data(), nameChars), type, data.data(), dataBytes);
    }
    return ERROR_SUCCESS;
}

LONG AppendOpenKey(HKEY key, const std::wstring& fullName, std::wstring* text,
                   std::wstring* failedKey) {
    *failedKey = fullName;
    if (!FitsRegFile(fullName.c_str(), static_cast<DWORD>(fullName.size()))) {
        return ERROR_INVALID_NAME;
    }
    DWORD subkeys = 0;
    DWORD maxSubkeyChars = 0;
    DWORD values = 0;
    DWORD maxNameChars = 0;
    DWORD maxDataBytes = 0;
    LONG result =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkeyChars, nullptr,
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
    // Sized as the key says, not by a constant: some Windows versions allow
    // names longer than 255 characters.
    std::vector<wchar_t> name(maxSubkeyChars + 1);
    for (DWORD index = 0; index < subkeys; ++index) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        result =
            RegEnumKeyExW(key, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        std::wstring childName = fullName + L"\\" + std::wstring(name.data(), nameChars);
        // A name holding a NUL cannot even be opened by its text.
        if (!FitsRegFile(name.data(), nameChars)) {
            *failedKey = childName;
            return ERROR_INVALID_NAME;
        }
        ScopedHkey child;
        result = OpenKeyAsNamedW(key, name.data(), KEY_READ, child.receive());
        if (result != ERROR_SUCCESS) {
            *failedKey = childName;
            return result;
        }
        result = AppendOpenKey(child.get(), childName, text, failedKey);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    *failedKey = std::wstring();
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
        return line + L"dword:" + Hex(value, 8) + L"\r\n";
    }
    std::wstring prefix = type == REG_BINARY ? L"hex:" : L"hex(" + Hex(type, 0) + L"):";
    return HexData(line + prefix, data, size);
}

LONG AppendKeyTree(const std::wstring& rootedKey, std::wstring* text, std::wstring* failedKey) {
    *failedKey = rootedKey;
    std::size_t backslash = rootedKey.find(L'\\');
    std::wstring rootName = rootedKey.substr(0, backslash);
    HKEY root = rootName == L"HKEY_USERS"           ? HKEY_USERS
                : rootName == L"HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                                                    : nullptr;
    if (root == nullptr || backslash == std::wstring::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    ScopedHkey key;
    LONG result = OpenKeyAsNamedW(root, rootedKey.c_str() + backslash + 1, KEY_READ, key.receive());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return AppendOpenKey(key.get(), rootedKey, text, failedKey);
}
