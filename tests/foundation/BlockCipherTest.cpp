// DES and AES against published test vectors, and the AES string encryptor.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/BlockCipher.h"
#include "foundation/StrUtil.h"

namespace {

std::vector<uint8_t> Bytes(const wchar_t* hex) {
    std::vector<uint8_t> out(static_cast<size_t>(HexToBytes(hex, nullptr, 0)));
    HexToBytes(hex, out.data(), static_cast<unsigned>(out.size()));
    return out;
}

std::wstring Hex(const uint8_t* bytes, size_t count) {
    std::wstring out(2 * count, L'?');
    BytesToHex(bytes, static_cast<int>(count), out.data(), static_cast<unsigned>(out.size()));
    return out;
}

// ---------------------------------------------------------------------------------
// DES

struct DesCase {
    const char* name;
    const wchar_t* key;
    const wchar_t* plain;
    const wchar_t* cipher;
};

const DesCase kDesCases[] = {
    {"textbook", L"133457799BBCDFF1", L"0123456789ABCDEF", L"85E813540F0AB405"},
    {"zero result", L"0E329232EA6D0D73", L"8787878787878787", L"0000000000000000"},
    {"Now is t", L"0123456789ABCDEF", L"4E6F772069732074", L"3FA40E8A984D4815"},
    {"all zero", L"0000000000000000", L"0000000000000000", L"8CA64DE9C1B123A7"},
    {"all one", L"FFFFFFFFFFFFFFFF", L"FFFFFFFFFFFFFFFF", L"7359B2163E4EDC58"},
};

TEST(Des, PublishedVectorsBothDirections) {
    for (const auto& c : kDesCases) {
        const auto key = Bytes(c.key), plain = Bytes(c.plain);
        uint8_t out[8];
        DesSetKey(key.data(), kDesEncrypt);
        DesCryptBlock(plain.data(), out);
        EXPECT_EQ(std::wstring(c.cipher), Hex(out, 8)) << c.name;
        DesSetKey(key.data(), kDesDecrypt);
        DesCryptBlock(out, out);  // in place
        EXPECT_EQ(std::wstring(c.plain), Hex(out, 8)) << c.name << " (decrypted)";
    }
}

TEST(Des, ParityBitsAreIgnored) {
    const auto key = Bytes(L"133457799BBCDFF1");
    auto flipped = key;
    for (auto& b : flipped) b ^= 1;
    const auto plain = Bytes(L"0123456789ABCDEF");
    DesSchedule a, b;
    DesSetKey(a, key.data(), kDesEncrypt);
    DesSetKey(b, flipped.data(), kDesEncrypt);
    uint8_t outA[8], outB[8];
    DesCryptBlock(a, plain.data(), outA);
    DesCryptBlock(b, plain.data(), outB);
    EXPECT_EQ(Hex(outA, 8), Hex(outB, 8));
}

TEST(Des, SchedulesOfThreadsAreIndependent) {
    // One thread sets its key between another thread's DesSetKey and DesCryptBlock.
    const auto keyA = Bytes(kDesCases[0].key), plainA = Bytes(kDesCases[0].plain);
    const auto keyB = Bytes(kDesCases[2].key);
    DesSetKey(keyA.data(), kDesEncrypt);
    std::thread([&] { DesSetKey(keyB.data(), kDesEncrypt); }).join();
    uint8_t out[8];
    DesCryptBlock(plainA.data(), out);
    EXPECT_EQ(std::wstring(kDesCases[0].cipher), Hex(out, 8));

    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const auto& c = kDesCases[t];
            const auto key = Bytes(c.key), plain = Bytes(c.plain);
            for (int i = 0; i < 500; ++i) {
                uint8_t block[8];
                DesSetKey(key.data(), kDesEncrypt);
                SwitchToThread();
                DesCryptBlock(plain.data(), block);
                if (Hex(block, 8) != c.cipher) ++failures[static_cast<size_t>(t)];
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[static_cast<size_t>(t)]) << kDesCases[t].name;
}

TEST(Des, NullArgumentsDoNothing) {
    DesSchedule schedule;
    DesSetKey(schedule, nullptr, kDesEncrypt);
    for (uint32_t w : schedule.words) EXPECT_EQ(0u, w);
    uint8_t out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DesCryptBlock(schedule, nullptr, out);
    EXPECT_EQ(1, out[0]);
    uint32_t words[2];
    const uint8_t in[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    DesBytesToWords(in, words);
    EXPECT_EQ(0x01234567u, words[0]);
    EXPECT_EQ(0x89ABCDEFu, words[1]);
    DesWordsToBytes(words, out);
    EXPECT_EQ(0, memcmp(in, out, 8));
}

// ---------------------------------------------------------------------------------
// AES

constexpr wchar_t kNistKey[] = L"603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4";
constexpr wchar_t kNistIv[] = L"000102030405060708090A0B0C0D0E0F";
// NIST SP 800-38A F.2.5, CBC-AES256.Encrypt.
constexpr const wchar_t* kNistPlain[4] = {L"6BC1BEE22E409F96E93D7E117393172A", L"AE2D8A571E03AC9C9EB76FAC45AF8E51",
                                          L"30C81C46A35CE411E5FBC1191A0A52EF", L"F69F2445DF4F9B17AD2B417BE66C3710"};
constexpr const wchar_t* kNistCipher[4] = {L"F58C4C04D6E5F1BA779EABFB5F7BFBD6", L"9CFC4E967EDB808D679F777BC6702C7D",
                                           L"39F23369A9D9BACFA530E26304231461", L"B2EB05E2C39BE9FCDA6C19078C6A9D1B"};

TEST(Aes, Fips197Aes256Block) {
    const auto key = Bytes(L"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const auto plain = Bytes(L"00112233445566778899AABBCCDDEEFF");
    AesCipher cipher;
    cipher.Init(key.data(), nullptr, 32, 16);
    ASSERT_TRUE(cipher.IsReady());
    uint8_t out[16];
    cipher.EncryptBlock(plain.data(), out);
    EXPECT_EQ(std::wstring(L"8EA2B7CA516745BFEAFC49904B496089"), Hex(out, 16));
}

TEST(Aes, NistCbcVectorsInOneCall) {
    const auto key = Bytes(kNistKey), iv = Bytes(kNistIv);
    std::wstring plainHex, cipherHex;
    for (int i = 0; i < 4; ++i) {
        plainHex += kNistPlain[i];
        cipherHex += kNistCipher[i];
    }
    const auto plain = Bytes(plainHex.c_str());
    std::vector<uint8_t> out(plain.size());
    AesCipher cipher;
    cipher.Init(key.data(), iv.data(), 32, 16);
    cipher.EncryptCbc(plain.data(), out.data(), plain.size());
    EXPECT_EQ(cipherHex, Hex(out.data(), out.size()));
}

TEST(Aes, ChainCarriesOverBetweenCalls) {
    const auto key = Bytes(kNistKey), iv = Bytes(kNistIv);
    AesCipher cipher;
    cipher.Init(key.data(), iv.data(), 32, 16);
    for (int i = 0; i < 4; ++i) {
        const auto plain = Bytes(kNistPlain[i]);
        uint8_t out[16];
        cipher.EncryptCbc(plain.data(), out, 16);
        EXPECT_EQ(std::wstring(kNistCipher[i]), Hex(out, 16)) << "block " << i + 1;
    }
}

TEST(Aes, OnlyAes256IsAccepted) {
    const auto key = Bytes(kNistKey), iv = Bytes(kNistIv);
    const int badKeys[] = {16, 24, 0, 33};
    for (int length : badKeys) {
        AesCipher cipher;
        cipher.Init(key.data(), iv.data(), length, 16);
        EXPECT_FALSE(cipher.IsReady()) << "key length " << length;
        uint8_t in[16] = {}, out[16];
        memset(out, 0xAA, sizeof(out));
        cipher.EncryptCbc(in, out, 16);
        cipher.EncryptBlock(in, out);
        EXPECT_EQ(0xAA, out[0]) << "nothing written, key length " << length;
    }
    AesCipher wrongBlock;
    wrongBlock.Init(key.data(), iv.data(), 32, 32);
    EXPECT_FALSE(wrongBlock.IsReady());
    AesCipher nullKey;
    nullKey.Init(nullptr, iv.data(), 32, 16);
    EXPECT_FALSE(nullKey.IsReady());

    AesCipher cipher;
    cipher.Init(key.data(), iv.data(), 32, 16);
    uint8_t in[20] = {}, out[20];
    memset(out, 0xAA, sizeof(out));
    cipher.EncryptCbc(in, out, 20);
    cipher.EncryptCbc(in, out, 0);
    EXPECT_EQ(0xAA, out[0]) << "a length that is not a multiple of 16 writes nothing";
}

struct AesStringCase {
    const char* name;
    const char* text;
    size_t length;
    const wchar_t* cipher;  // independently computed with the NIST key and IV
};

TEST(AesString, PaddingAndVectors) {
    const AesStringCase cases[] = {
        {"empty: 00 and fifteen 0E", "", 16, L"9978E99B4AAAF90227B6868E054DF803"},
        {"15 characters: a whole block of 0F follows", "ABCDEFGHIJKLMNO", 32,
         L"C9D937DAAEADA8CFD6EFA07C993C40E1AE345F4840B81EEE8FD3BCB4A8986571"},
        {"abc: twelve 0B", "abc", 16, L"C2BC70CAEBDBAB0FDE8B2D6DAC008889"},
    };
    const auto key = Bytes(kNistKey), iv = Bytes(kNistIv);
    for (const auto& c : cases) {
        uint8_t out[64];
        memset(out, 0xAA, sizeof(out));
        size_t length = sizeof(out);
        ASSERT_TRUE(AesEncryptString(key.data(), iv.data(), c.text, out, &length)) << c.name;
        EXPECT_EQ(c.length, length) << c.name;
        EXPECT_EQ(std::wstring(c.cipher), Hex(out, length)) << c.name;
        EXPECT_EQ(0, out[length]) << c.name << ": the rest of the given buffer is zeroed";
    }
}

TEST(AesString, ShortBufferReportsTheNeededLengthAndWritesNothing) {
    const auto key = Bytes(kNistKey), iv = Bytes(kNistIv);
    uint8_t out[32];
    memset(out, 0xAA, sizeof(out));
    size_t length = 16;  // "ABCDEFGHIJKLMNO" needs 32
    EXPECT_FALSE(AesEncryptString(key.data(), iv.data(), "ABCDEFGHIJKLMNO", out, &length));
    EXPECT_EQ(32u, length);
    for (uint8_t b : out) EXPECT_EQ(0xAA, b);
    length = 0;
    EXPECT_FALSE(AesEncryptString(key.data(), iv.data(), "abc", nullptr, &length)) << "size query";
    EXPECT_EQ(16u, length);
    EXPECT_FALSE(AesEncryptString(nullptr, iv.data(), "abc", out, &length));
    EXPECT_FALSE(AesEncryptString(key.data(), nullptr, "abc", out, &length));
    EXPECT_FALSE(AesEncryptString(key.data(), iv.data(), nullptr, out, &length));
    EXPECT_FALSE(AesEncryptString(key.data(), iv.data(), "abc", out, nullptr));
}

}  // namespace
