#include "hive_marker.h"

#include "scoped_hkey.h"

const wchar_t kHiveMarkerRoot[] = L"SOFTWARE\\DUVA\\KEYMEND\\LoadedHives";

namespace {

const wchar_t kVendorKey[] = L"SOFTWARE\\DUVA";
const wchar_t kBelowVendor[] = L"KEYMEND\\LoadedHives\\";

std::wstring MarkerPath(const std::wstring& sid) {
    return std::wstring(kHiveMarkerRoot) + L"\\" + sid;
}

}  // namespace

DWORD WriteHiveMarker(const std::wstring& sid) {
    ScopedHkey vendor;
    LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVendorKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_CREATE_SUB_KEY, nullptr, vendor.receive(), nullptr);
    if (result != ERROR_SUCCESS) {
        return static_cast<DWORD>(result);
    }
    // Each missing key on the way is created volatile as well.
    ScopedHkey marker;
    result =
        RegCreateKeyExW(vendor.get(), (kBelowVendor + sid).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_QUERY_VALUE, nullptr, marker.receive(), nullptr);
    return static_cast<DWORD>(result);
}

DWORD HiveMarkerExists(const std::wstring& sid, bool* exists) {
    ScopedHkey marker;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, MarkerPath(sid).c_str(), 0, KEY_QUERY_VALUE,
                                marker.receive());
    *exists = result == ERROR_SUCCESS;
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

DWORD DropHiveMarker(const std::wstring& sid) {
    LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, MarkerPath(sid).c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

DWORD ListHiveMarkers(std::vector<std::wstring>* sids) {
    sids->clear();
    ScopedHkey root;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHiveMarkerRoot, 0, KEY_ENUMERATE_SUB_KEYS,
                                root.receive());
    if (result == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        wchar_t name[256];  // a key name holds at most 255 characters
        DWORD chars = 256;
        result = RegEnumKeyExW(root.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) {
            sids->emplace_back(name, chars);
        }
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : static_cast<DWORD>(result);
}
