// Password-based RC4 encryption through CryptoAPI and the block checksum.
// The expected cipher texts were computed independently (MD5 of the UTF-16LE password,
// key = the first 5 bytes of it and 11 zero bytes, RC4 over the UTF-16LE text and its
// terminator).
#include <gtest/gtest.h>

#include <string>

#include "foundation/Crypto.h"
#include "foundation/StrUtil.h"

namespace {

// The password of the password-type settings.
constexpr wchar_t kSettingsPassword[] = L"6A0F3D92-B47C-4e15-8D2A-90C1E7B35F48";

struct Rc4Case {
    const char* name;
    const wchar_t* password;
    const wchar_t* text;
    const wchar_t* hex;
};

const Rc4Case kRc4Cases[] = {
    {"abc", kSettingsPassword, L"abc", L"2703EE7C02B9D36E"},
    {"empty text: the two terminator bytes", kSettingsPassword, L"", L"4603"},
    {"longer text", kSettingsPassword, L"Secret password 123",
     L"1503E97C02B9A16E75DE4DA1A5731DDA1FEC2004AFEA7AD9CA6C3D46BE45EE159CA10E7E75B23D61"},
    {"non-ASCII", kSettingsPassword, L"\x00E9\x4E2D", L"AF03A13261B9"},
    {"other password", L"x", L"abc", L"5326BEEDDEE4B823"},
};

TEST(Crypto, Rc4FortyBitVectors) {
    for (const auto& c : kRc4Cases) {
        Crypto crypto(c.password, CALG_RC4, 40);
        ASSERT_TRUE(crypto.HasKey()) << c.name;
        WText hex(crypto.EncryptToHex(c.text));
        ASSERT_TRUE(hex) << c.name;
        EXPECT_EQ(std::wstring(c.hex), hex.get()) << c.name;
        EXPECT_EQ(4 * (wcslen(c.text) + 1), wcslen(hex.get())) << c.name;
        SecretWText plain(crypto.DecryptFromHex(hex.get()));
        ASSERT_TRUE(plain) << c.name;
        EXPECT_EQ(std::wstring(c.text), plain.get()) << c.name;
    }
}

TEST(Crypto, EveryCallStartsFromTheKey) {
    Crypto crypto(kSettingsPassword, CALG_RC4, 40);
    WText first(crypto.EncryptToHex(L"abc"));
    WText second(crypto.EncryptToHex(L"abc"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(std::wstring(first.get()), second.get());
    SecretWText a(crypto.DecryptFromHex(first.get()));
    SecretWText b(crypto.DecryptFromHex(first.get()));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::wstring(L"abc"), a.get());
    EXPECT_EQ(std::wstring(L"abc"), b.get());
}

TEST(Crypto, NoKeyWithoutPassword) {
    Crypto empty(L"", CALG_RC4, 40);
    EXPECT_FALSE(empty.HasKey());
    EXPECT_EQ(nullptr, empty.EncryptToHex(L"abc"));
    EXPECT_EQ(nullptr, empty.DecryptFromHex(L"2703EE7C02B9D36E"));
    Crypto none(nullptr, CALG_RC4, 40);
    EXPECT_FALSE(none.HasKey());
    EXPECT_EQ(nullptr, none.EncryptToHex(L"abc"));
}

TEST(Crypto, HostileCipherTextsGiveTerminatedTexts) {
    Crypto crypto(kSettingsPassword, CALG_RC4, 40);
    EXPECT_EQ(nullptr, crypto.EncryptToHex(nullptr));
    EXPECT_EQ(nullptr, crypto.DecryptFromHex(nullptr));
    EXPECT_EQ(nullptr, crypto.DecryptFromHex(L"")) << "no bytes";
    EXPECT_EQ(nullptr, crypto.DecryptFromHex(L"A")) << "one digit is no byte";
    const wchar_t* hostile[] = {L"270", L"2703EE7C02B9", L"ZZZZZZZZ", L"2703EE7C02B9D36E2703EE7C02B9D36EFF"};
    for (const wchar_t* hex : hostile) {
        SecretWText text(crypto.DecryptFromHex(hex));
        ASSERT_TRUE(text) << "RC4 decrypts any byte string";
        EXPECT_LE(wcslen(text.get()), wcslen(hex) / 4 + 1) << "terminated inside its buffer";
    }
}

TEST(Crypto, ReleaseAndInitAgain) {
    Crypto crypto(L"first", CALG_RC4, 40);
    ASSERT_TRUE(crypto.HasKey());
    crypto.Release();
    EXPECT_FALSE(crypto.HasKey());
    crypto.Release();  // twice is harmless
    EXPECT_TRUE(crypto.Init(kSettingsPassword, CALG_RC4, 40));
    WText hex(crypto.EncryptToHex(L"abc"));
    EXPECT_EQ(std::wstring(L"2703EE7C02B9D36E"), hex.get());
    // Many objects made and released leave no provider or key behind.
    DWORD before = 0, after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    for (int i = 0; i < 200; ++i) {
        Crypto temp(kSettingsPassword, CALG_RC4, 40);
        WText t(temp.EncryptToHex(L"x"));
    }
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LT(after, before + 20);
}

TEST(Crypto, PasswordHashArguments) {
    EXPECT_EQ(0u, CreatePasswordHash(0, CALG_MD5, L"pw"));
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, L"Microsoft Base Cryptographic Provider v1.0", PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(0u, CreatePasswordHash(provider, CALG_MD5, nullptr));
    EXPECT_EQ(0u, CreatePasswordHash(provider, CALG_MD5, L""));
    HCRYPTHASH hash = CreatePasswordHash(provider, CALG_MD5, L"abc");
    ASSERT_NE(0u, hash);
    BYTE digest[16];
    DWORD size = sizeof(digest);
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0));
    // MD5 of the UTF-16LE bytes 61 00 62 00 63 00 (no terminator).
    wchar_t hex[33] = {};
    BytesToHex(digest, 16, hex, 32);
    EXPECT_EQ(std::wstring(L"CE1473CF80C6B3FDA8E3DFC006ADC315"), hex);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
}

TEST(Checksum, Cases) {
    const uint8_t one[] = {0x01};
    const uint8_t two[] = {0x01, 0x02};
    const uint8_t three[] = {0xFF, 0x00, 0x10};
    EXPECT_EQ(0u, ComputeChecksum(nullptr, 0));
    EXPECT_EQ(0u, ComputeChecksum(one, 0));
    EXPECT_EQ(1u, ComputeChecksum(one, 1));
    EXPECT_EQ(11u, ComputeChecksum(two, 2));
    EXPECT_EQ(((0xFFu * 9) * 9) ^ 0x10u, ComputeChecksum(three, 3));
    EXPECT_EQ(0u, ComputeChecksum(two, -1));
    // The 32-bit product wraps.
    uint8_t many[64];
    for (auto& b : many) b = 0xFF;
    uint32_t h = 0;
    for (uint8_t b : many) h = (h * 9) ^ b;
    EXPECT_EQ(h, ComputeChecksum(many, 64));
}

}  // namespace
