// CryptoAPI's hashing: one provider type, PROV_RSA_AES, with SHA-256 computed for real, so that
// a digest the launcher reports can be checked against the bytes it read. Handles share the one
// handle namespace. Failures set the last error, as advapi32 does.
#include <algorithm>
#include <cstring>

#include "platform/crypto.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace sim::detail {
namespace {

constexpr std::array<std::uint32_t, 64> ROUND_CONSTANTS = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

void Sha256::Compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> schedule{};
    for (std::size_t t = 0; t < 16; ++t) {
        schedule[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
                      std::uint32_t{block[4 * t + 2]} << 8 | std::uint32_t{block[4 * t + 3]};
    }
    for (std::size_t t = 16; t < 64; ++t) {
        const std::uint32_t s0 =
            RotateRight(schedule[t - 15], 7) ^ RotateRight(schedule[t - 15], 18) ^ (schedule[t - 15] >> 3);
        const std::uint32_t s1 =
            RotateRight(schedule[t - 2], 17) ^ RotateRight(schedule[t - 2], 19) ^ (schedule[t - 2] >> 10);
        schedule[t] = schedule[t - 16] + s0 + schedule[t - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (std::size_t t = 0; t < 64; ++t) {
        const std::uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const std::uint32_t choice = (e & f) ^ (~e & g);
        const std::uint32_t first = h + sum1 + choice + ROUND_CONSTANTS[t] + schedule[t];
        const std::uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        h = g;
        g = f;
        f = e;
        e = d + first;
        d = c;
        c = b;
        b = a;
        a = first + sum0 + majority;
    }
    const std::array<std::uint32_t, 8> worked = {a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < state.size(); ++i) state[i] += worked[i];
}

void Sha256::Add(const std::uint8_t* data, std::size_t length) {
    totalLength += length;
    while (length > 0) {
        if (pendingLength == 0 && length >= pending.size()) {
            Compress(data);
            data += pending.size();
            length -= pending.size();
            continue;
        }
        const std::size_t taken = std::min(pending.size() - pendingLength, length);
        std::memcpy(pending.data() + pendingLength, data, taken);
        pendingLength += taken;
        data += taken;
        length -= taken;
        if (pendingLength == pending.size()) {
            Compress(pending.data());
            pendingLength = 0;
        }
    }
}

// The message, a 1 bit, zeros up to 8 bytes short of a block's end, then the message's length in
// bits, big-endian.
std::array<std::uint8_t, Sha256::DIGEST_BYTES> Sha256::Finish() {
    const std::uint64_t bits = totalLength * 8;
    const std::uint8_t one = 0x80;
    const std::uint8_t zero = 0;
    Add(&one, 1);
    while (pendingLength != pending.size() - 8) Add(&zero, 1);
    std::array<std::uint8_t, 8> lengthBytes{};
    for (std::size_t i = 0; i < lengthBytes.size(); ++i)
        lengthBytes[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Add(lengthBytes.data(), lengthBytes.size());
    std::array<std::uint8_t, DIGEST_BYTES> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::u16string CryptTarget(std::uintptr_t handle) {
    if (M().cryptProviders.count(handle) != 0) return sim::CRYPT_PROVIDER;
    if (M().cryptHashes.count(handle) != 0) return sim::SHA256_HASH;
    return {};
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

int OpenCryptHandles() { return static_cast<int>(M().cryptProviders.size() + M().cryptHashes.size()); }
const std::vector<DWORD>& HashDataSizes() { return M().hashDataSizes; }

std::vector<std::uint8_t> Sha256Of(const std::string& bytes) {
    Sha256 engine;
    engine.Add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const auto digest = engine.Finish();
    return {digest.begin(), digest.end()};
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

namespace {

constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000C;
constexpr DWORD NTE_BAD_TYPE = 0x8009000A;
constexpr DWORD NTE_BAD_ALGID = 0x80090008;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017;

// A hash object the calls may use: known, and its provider not released.
CryptHash* LiveHash(HCRYPTHASH hash) {
    auto found = M().cryptHashes.find(hash);
    return found == M().cryptHashes.end() || found->second.orphaned ? nullptr : &found->second;
}

}  // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* provider, DWORD providerType, DWORD flags) {
    DWORD error = 0;
    if (Enter("CryptAcquireContextW", sim::CRYPT_PROVIDER, &error)) return Fail(error);
    if (provider == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (providerType != PROV_RSA_AES) return Fail(NTE_PROV_TYPE_NOT_DEF);
    if (!(flags & CRYPT_VERIFYCONTEXT)) return Fail(NTE_BAD_KEYSET);
    const std::uintptr_t value = NewHandleValue();
    M().cryptProviders.insert(value);
    *provider = value;
    return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV provider, DWORD algorithm, HCRYPTHASH* hash) {
    DWORD error = 0;
    if (Enter("CryptCreateHash", sim::SHA256_HASH, &error)) return Fail(error);
    if (M().cryptProviders.count(provider) == 0 || hash == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (algorithm != CALG_SHA_256) return Fail(NTE_BAD_ALGID);
    const std::uintptr_t value = NewHandleValue();
    M().cryptHashes[value].provider = provider;
    *hash = value;
    return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const std::uint8_t* data, DWORD length) {
    DWORD error = 0;
    const bool injected = Enter("CryptHashData", CryptTarget(hash), &error);
    M().hashDataSizes.push_back(length);
    if (injected) return Fail(error);
    CryptHash* live = LiveHash(hash);
    if (live == nullptr || (data == nullptr && length != 0)) return Fail(ERROR_INVALID_PARAMETER);
    if (live->finished) return Fail(NTE_BAD_HASH_STATE);
    live->engine.Add(data, length);
    return TRUE;
}

// Without a buffer only the size is told; with one the hash is finished, even when the buffer
// then proves too small.
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, std::uint8_t* data, DWORD* length) {
    DWORD error = 0;
    if (Enter("CryptGetHashParam", CryptTarget(hash), &error)) return Fail(error);
    CryptHash* live = LiveHash(hash);
    if (live == nullptr || length == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (parameter != HP_HASHVAL) return Fail(NTE_BAD_TYPE);
    const DWORD room = *length;
    *length = SHA256_BYTES;
    if (data == nullptr) return TRUE;
    if (!live->finished) {
        live->digest = live->engine.Finish();
        live->finished = true;
    }
    if (room < SHA256_BYTES) return Fail(ERROR_MORE_DATA);
    std::copy(live->digest.begin(), live->digest.end(), data);
    return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
    DWORD error = 0;
    if (Enter("CryptDestroyHash", CryptTarget(hash), &error)) return Fail(error);
    if (LiveHash(hash) == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    M().cryptHashes.erase(hash);
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider) {
    DWORD error = 0;
    if (Enter("CryptReleaseContext", CryptTarget(provider), &error)) return Fail(error);
    Machine& m = M();
    if (m.cryptProviders.erase(provider) == 0) return Fail(ERROR_INVALID_PARAMETER);
    for (auto& [value, held] : m.cryptHashes) {
        if (held.provider == provider) held.orphaned = true;
    }
    return TRUE;
}

}  // namespace platform
