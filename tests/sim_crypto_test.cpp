// The simulation's CryptoAPI: SHA-256 digests and what Windows refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

using namespace platform;
using namespace orvane::testing;

using SimCryptoTest = SimFixture;

constexpr DWORD NTE_BAD_ALGID = 0x80090008;
constexpr DWORD NTE_BAD_TYPE = 0x8009000A;
constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000C;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017;

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 15];
    }
    return text;
}

// The digest of `bytes` through the CryptoAPI, fed in pieces of the sizes in `pieces`, in turn.
std::string DigestOf(const std::string& bytes, const std::vector<std::size_t>& pieces = {}) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    EXPECT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0, turn = 0; at < bytes.size() || (at == 0 && turn == 0); ++turn) {
        const std::size_t piece =
            pieces.empty() ? bytes.size() : std::min(pieces[turn % pieces.size()], bytes.size() - at);
        EXPECT_TRUE(CryptHashData(hash, data + at, static_cast<DWORD>(piece)));
        at += piece;
    }
    std::uint8_t digest[SHA256_BYTES + 1] = {};
    DWORD length = sizeof digest;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(length, SHA256_BYTES);
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_TRUE(CryptReleaseContext(provider));
    return Hex(digest, length);
}

struct DigestRow {
    const char* name;
    std::string input;
    std::string digest;
};
ORVANE_PRINT_BY_NAME(DigestRow)

const DigestRow DIGEST_ROWS[] = {
    {"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    // 55 bytes: the length still fits the block; 448 bits: it needs a second one.
    {"Bytes55", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"Bits448", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"OneWholeBlock", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"Bits896",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"AMillionA", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

class Sha256Test : public SimFixture, public ::testing::WithParamInterface<DigestRow> {};

TEST_P(Sha256Test, GivesTheKnownDigest) {
    EXPECT_EQ(DigestOf(GetParam().input), GetParam().digest);
    const std::vector<std::uint8_t> direct = sim::Sha256Of(GetParam().input);
    EXPECT_EQ(Hex(direct.data(), direct.size()), GetParam().digest);
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
}

ORVANE_NAMED_ROWS(Vectors, Sha256Test, DIGEST_ROWS);

TEST_F(SimCryptoTest, Sha256OfALargeInputFedInUnevenPiecesEqualsOneShot) {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    std::uint32_t seed = 12345;
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
    const std::vector<std::size_t> pieces = {1, 63, 64, 65, 4096, 100003, 0, 7};
    const std::string whole = DigestOf(bytes);
    const std::vector<DWORD> oneShot = sim::HashDataSizes();
    EXPECT_EQ(oneShot, std::vector<DWORD>{static_cast<DWORD>(bytes.size())});
    EXPECT_EQ(DigestOf(bytes, pieces), whole);
    const std::vector<DWORD>& sizes = sim::HashDataSizes();
    ASSERT_GT(sizes.size(), 9u);
    for (std::size_t i = 1; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], pieces[(i - 1) % pieces.size()]) << i;
}

struct CryptRow {
    const char* name;
    DWORD providerType, flags, algorithm;
    DWORD acquireError, createError;  // 0: works
};
ORVANE_PRINT_BY_NAME(CryptRow)

const CryptRow CRYPT_ROWS[] = {
    {"VerifyContext", PROV_RSA_AES, CRYPT_VERIFYCONTEXT, CALG_SHA_256, 0, 0},
    {"VerifyContextAmongOtherFlags", PROV_RSA_AES, CRYPT_VERIFYCONTEXT | 0x40, CALG_SHA_256, 0, 0},
    {"NoVerifyContextNoDefaultContainer", PROV_RSA_AES, 0, CALG_SHA_256, NTE_BAD_KEYSET, 0},
    {"AProviderTypeNotInstalled", 1, CRYPT_VERIFYCONTEXT, CALG_SHA_256, NTE_PROV_TYPE_NOT_DEF, 0},
    {"Sha1", PROV_RSA_AES, CRYPT_VERIFYCONTEXT, 0x8004, 0, NTE_BAD_ALGID},
};

class CryptoApiTest : public SimFixture, public ::testing::WithParamInterface<CryptRow> {};

TEST_P(CryptoApiTest, RefusesWhatWindowsRefuses) {
    const CryptRow& row = GetParam();
    HCRYPTPROV provider = 0x5A5A;
    HCRYPTHASH hash = 0x5A5A;
    const BOOL acquired = CryptAcquireContextW(&provider, row.providerType, row.flags);
    EXPECT_EQ(acquired ? 0 : GetLastError(), row.acquireError);
    if (!acquired) {
        EXPECT_EQ(provider, 0x5A5Au);
        EXPECT_EQ(sim::OpenCryptHandles(), 0);
        return;
    }
    const BOOL created = CryptCreateHash(provider, row.algorithm, &hash);
    EXPECT_EQ(created ? 0 : GetLastError(), row.createError);
    EXPECT_EQ(sim::OpenCryptHandles(), created ? 2 : 1);
    if (created) {
        EXPECT_TRUE(CryptDestroyHash(hash));
    }
    EXPECT_TRUE(CryptReleaseContext(provider));
    EXPECT_EQ(sim::OpenCryptHandles(), 0);
}

ORVANE_NAMED_ROWS(Rows, CryptoApiTest, CRYPT_ROWS);

TEST_F(SimCryptoTest, ReadingTheDigestEndsTheHashAndReleasingTheProviderEndsItsHashes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0, orphan = 0;
    ASSERT_TRUE(CryptAcquireContextW(&provider, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &hash));
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const std::uint8_t*>("abc"), 3));
    std::uint8_t digest[SHA256_BYTES] = {};
    DWORD length = SHA256_BYTES - 1;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(length, SHA256_BYTES);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const std::uint8_t*>("d"), 1));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length));
    EXPECT_EQ(Hex(digest, length), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(CryptGetHashParam(hash, 0x0004 /* HP_HASHSIZE */, digest, &length));
    EXPECT_EQ(GetLastError(), NTE_BAD_TYPE);
    EXPECT_TRUE(CryptDestroyHash(hash));
    // advapi32 answers a handle it does not hold with ERROR_INVALID_PARAMETER.
    EXPECT_FALSE(CryptHashData(hash, digest, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CryptDestroyHash(hash));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA_256, &orphan));
    EXPECT_TRUE(CryptReleaseContext(provider));
    EXPECT_FALSE(CryptHashData(orphan, digest, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CryptDestroyHash(orphan)) << "destroyed with its provider";
    EXPECT_FALSE(CryptReleaseContext(provider));
    EXPECT_EQ(sim::OpenCryptHandles(), 1) << "the hash outlived its provider";
}

}  // namespace
