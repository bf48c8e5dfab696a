// The operating system's own hashing: CryptoAPI in ADVAPI32, present from Windows 2000 on. The
// launcher hashes its patch files with it, so no hash of its own is ever written or shipped.
#pragma once

#include "platform/types.h"

namespace platform {

/// Handles of a cryptographic provider and of a hash object (ULONG_PTR on Windows); 0 is none.
using HCRYPTPROV = std::uintptr_t;
using HCRYPTHASH = std::uintptr_t;

inline constexpr DWORD PROV_RSA_AES = 24;
/// No key container: hashing needs none, and without this flag the call fails with NTE_BAD_KEYSET
/// for an account that has no default container (SYSTEM's, on a fresh machine).
inline constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000;
inline constexpr DWORD CALG_SHA_256 = 0x0000800C;
inline constexpr DWORD HP_HASHVAL = 0x0002;
inline constexpr DWORD SHA256_BYTES = 32;

/// Opens the default provider of `providerType` (no container, no provider name). Non-zero on
/// success, with `*provider` to be released with CryptReleaseContext.
BOOL CryptAcquireContextW(HCRYPTPROV* provider, DWORD providerType, DWORD flags);

/// A new hash object of `algorithm` (no key, no flags). Non-zero on success, with `*hash` to be
/// destroyed with CryptDestroyHash before its provider is released.
BOOL CryptCreateHash(HCRYPTPROV provider, DWORD algorithm, HCRYPTHASH* hash);

/// Adds `length` bytes to the hash. Non-zero on success.
BOOL CryptHashData(HCRYPTHASH hash, const std::uint8_t* data, DWORD length);

/// Reads a hash parameter (HP_HASHVAL: the digest, which ends the hashing) into `data`, whose
/// room `*length` gives in bytes; `*length` is set to the bytes written. Non-zero on success;
/// too little room fails with ERROR_MORE_DATA.
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, std::uint8_t* data, DWORD* length);

BOOL CryptDestroyHash(HCRYPTHASH hash);
BOOL CryptReleaseContext(HCRYPTPROV provider);

}  // namespace platform
