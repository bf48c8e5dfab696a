#include "platform/win32/windows_api.h"

#include <wincrypt.h>

static_assert(sizeof(platform::HCRYPTPROV) == sizeof(::HCRYPTPROV) &&
              sizeof(platform::HCRYPTHASH) == sizeof(::HCRYPTHASH));

namespace platform {

BOOL CryptAcquireContextW(HCRYPTPROV* provider, DWORD providerType, DWORD flags) {
    ::HCRYPTPROV acquired = 0;
    const BOOL ok = ::CryptAcquireContextW(&acquired, nullptr, nullptr, providerType, flags);
    if (ok) {
        *provider = acquired;
    }
    return ok;
}

BOOL CryptCreateHash(HCRYPTPROV provider, DWORD algorithm, HCRYPTHASH* hash) {
    ::HCRYPTHASH created = 0;
    const BOOL ok = ::CryptCreateHash(provider, algorithm, 0, 0, &created);
    if (ok) {
        *hash = created;
    }
    return ok;
}

BOOL CryptHashData(HCRYPTHASH hash, const std::uint8_t* data, DWORD length) {
    return ::CryptHashData(hash, data, length, 0);
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, std::uint8_t* data, DWORD* length) {
    return ::CryptGetHashParam(hash, parameter, data, win32::Win(length), 0);
}

BOOL CryptDestroyHash(HCRYPTHASH hash) { return ::CryptDestroyHash(hash); }

BOOL CryptReleaseContext(HCRYPTPROV provider) { return ::CryptReleaseContext(provider, 0); }

}  // namespace platform
