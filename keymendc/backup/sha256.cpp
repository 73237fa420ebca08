#include "sha256.h"

#include <wincrypt.h>

namespace {

class Provider {
  public:
    Provider() {
        if (!CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
            provider_ = 0;
        }
    }
    ~Provider() {
        if (hash_ != 0) {
            CryptDestroyHash(hash_);
        }
        if (provider_ != 0) {
            CryptReleaseContext(provider_, 0);
        }
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    DWORD Digest(const BYTE* data, std::size_t size, BYTE (&digest)[32]) {
        if (provider_ == 0 || !CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_)) {
            return GetLastError();
        }
        // CryptHashData takes a DWORD count.
        constexpr std::size_t kPiece = 1u << 30;
        for (std::size_t done = 0; done < size; done += kPiece) {
            DWORD piece = static_cast<DWORD>(size - done < kPiece ? size - done : kPiece);
            if (!CryptHashData(hash_, data + done, piece, 0)) {
                return GetLastError();
            }
        }
        DWORD length = sizeof digest;
        if (!CryptGetHashParam(hash_, HP_HASHVAL, digest, &length, 0)) {
            return GetLastError();
        }
        return length == sizeof digest ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    }

  private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
};

}  // namespace

DWORD Sha256Hex(const void* data, std::size_t size, std::wstring* hex) {
    BYTE digest[32];
    Provider provider;
    DWORD result = provider.Digest(static_cast<const BYTE*>(data), size, digest);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    hex->clear();
    for (BYTE byte : digest) {
        *hex += kDigits[byte >> 4];
        *hex += kDigits[byte & 15];
    }
    return ERROR_SUCCESS;
}
