#include "launcher/file_hash.h"

#include "platform/owners.h"
#include "strings/plain_text.h"

namespace orvane {

namespace {

bool Hash(const char16_t* path, std::uint8_t (&digest)[platform::SHA256_BYTES]) {
    // Read sharing only: nobody may change the file while its hash is taken, so the hash names
    // exactly the bytes that were read.
    const platform::ScopedFile file(platform::CreateFileW(path, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                                          platform::OPEN_EXISTING,
                                                          platform::FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file.Holds()) return false;
    platform::ScopedCryptProvider provider;
    if (!platform::CryptAcquireContextW(provider.Receive(), platform::PROV_RSA_AES, platform::CRYPT_VERIFYCONTEXT)) {
        return false;
    }
    platform::ScopedCryptHash hash;
    if (!platform::CryptCreateHash(provider.Get(), platform::CALG_SHA_256, hash.Receive())) return false;
    // On the stack: no allocation, and nothing in the program's file (a zeroed global would land in
    // its initialised data).
    std::uint8_t piece[HASH_PIECE_BYTES];
    for (;;) {
        platform::DWORD read = 0;
        if (!platform::ReadFile(file.Get(), piece, sizeof piece, &read)) return false;
        if (read == 0) break;
        if (!platform::CryptHashData(hash.Get(), piece, read)) return false;
    }
    platform::DWORD length = sizeof digest;
    return platform::CryptGetHashParam(hash.Get(), platform::HP_HASHVAL, digest, &length) && length == sizeof digest;
}

}  // namespace

bool HashFile(const char16_t* path, char16_t (&hex)[SHA256_TEXT_UNITS]) {
    std::uint8_t digest[platform::SHA256_BYTES];
    hex[0] = 0;
    if (!Hash(path, digest)) return false;
    WriteHex(digest, sizeof digest, hex);
    return true;
}

}  // namespace orvane
