// Single DES (FIPS 46-3) and AES-256 (FIPS 197) in cipher-block chaining.
#include "foundation/BlockCipher.h"

#include <cstring>
#include <new>

#include "foundation/StrUtil.h"

namespace {

// ---------------------------------------------------------------------------------
// DES tables (bit numbers count from 1 at the most significant bit).

constexpr uint8_t kInitialPerm[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4, 62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8, 57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPerm[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31, 38, 6, 46, 14, 54, 22,
    62, 30, 37, 5, 45, 13, 53, 21, 61, 29, 36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11,
    51, 19, 59, 27, 34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9, 49, 17, 57, 25};

constexpr uint8_t kPerm[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                               2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                              35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                              46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Cumulative left rotations of C and D before each round.
constexpr uint8_t kRotations[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7, 2,  13, 12, 0, 5,  10, 3, 13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5, 0,  14, 7,  11, 10, 4, 13, 1, 5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2, 7,  12,
     9,  5,  6,  1,  13, 14, 0, 11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0, 4,  10,
     1,  13, 11, 6,  4,  3,  2, 12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9, 7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1, 4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5, 0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5, 6,  11, 0,  14, 9,  2,  7,  11, 4, 1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8, 2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9, 0,  3,  5,  6,  11}};

constexpr uint32_t Rotl32(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
constexpr uint32_t Rotr32(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }

// The eight S-boxes merged with P. The round keeps both halves rotated left by one bit
// (so that every 6-bit group of the expansion is a plain shift), hence the tables are
// rotated the same way.
struct SpTables {
    uint32_t sp[8][64];
    constexpr SpTables() : sp() {
        for (int box = 0; box < 8; ++box) {
            for (int v = 0; v < 64; ++v) {
                const int row = ((v >> 4) & 2) | (v & 1);
                const int col = (v >> 1) & 15;
                const uint32_t s = static_cast<uint32_t>(kSBox[box][row * 16 + col]) << (28 - 4 * box);
                uint32_t p = 0;
                for (int i = 0; i < 32; ++i)
                    if (s & (1u << (32 - kPerm[i]))) p |= 1u << (31 - i);
                sp[box][v] = Rotl32(p, 1);
            }
        }
    }
};
constexpr SpTables kSp;

uint64_t Permute64(uint64_t in, const uint8_t table[64]) {
    uint64_t out = 0;
    for (int i = 0; i < 64; ++i)
        if (in & (uint64_t{1} << (64 - table[i]))) out |= uint64_t{1} << (63 - i);
    return out;
}

thread_local DesSchedule t_desSchedule = {};

}  // namespace

void DesPackSubkeys(const uint8_t raw[16][8], uint32_t packed[32]) noexcept {
    if (!raw || !packed) return;
    for (int round = 0; round < 16; ++round) {
        const uint8_t* g = raw[round];
        packed[2 * round] = (uint32_t{g[0]} & 63) << 24 | (uint32_t{g[2]} & 63) << 16 | (uint32_t{g[4]} & 63) << 8 |
                            (uint32_t{g[6]} & 63);
        packed[2 * round + 1] = (uint32_t{g[1]} & 63) << 24 | (uint32_t{g[3]} & 63) << 16 |
                                (uint32_t{g[5]} & 63) << 8 | (uint32_t{g[7]} & 63);
    }
}

void DesStoreSchedule(const uint32_t packed[32], DesSchedule& schedule) noexcept {
    if (!packed) return;
    memcpy(schedule.words, packed, sizeof(schedule.words));
}

void DesSetKey(DesSchedule& schedule, const uint8_t key[8], int direction) noexcept {
    memset(schedule.words, 0, sizeof(schedule.words));
    if (!key) return;
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
    // PC-1 drops the parity bits: 56 bits, C in the upper 28 and D in the lower 28.
    uint64_t cd = 0;
    for (int i = 0; i < 56; ++i)
        if (k & (uint64_t{1} << (64 - kPC1[i]))) cd |= uint64_t{1} << (55 - i);
    const uint32_t c0 = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
    const uint32_t d0 = static_cast<uint32_t>(cd) & 0x0FFFFFFF;

    uint8_t raw[16][8];
    for (int round = 0; round < 16; ++round) {
        const int r = kRotations[round];
        const uint32_t c = ((c0 << r) | (c0 >> (28 - r))) & 0x0FFFFFFF;
        const uint32_t d = ((d0 << r) | (d0 >> (28 - r))) & 0x0FFFFFFF;
        const uint64_t rotated = (uint64_t{c} << 28) | d;
        uint64_t subkey = 0;  // 48 bits
        for (int i = 0; i < 48; ++i)
            if (rotated & (uint64_t{1} << (56 - kPC2[i]))) subkey |= uint64_t{1} << (47 - i);
        const int slot = direction == kDesDecrypt ? 15 - round : round;
        for (int g = 0; g < 8; ++g) raw[slot][g] = static_cast<uint8_t>((subkey >> (42 - 6 * g)) & 63);
    }
    uint32_t packed[32];
    DesPackSubkeys(raw, packed);
    DesStoreSchedule(packed, schedule);
    WipeMemory(raw, sizeof(raw));
    WipeMemory(packed, sizeof(packed));
}

void DesBytesToWords(const uint8_t in[8], uint32_t words[2]) noexcept {
    if (!in || !words) return;
    words[0] = uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
    words[1] = uint32_t{in[4]} << 24 | uint32_t{in[5]} << 16 | uint32_t{in[6]} << 8 | in[7];
}

void DesWordsToBytes(const uint32_t words[2], uint8_t out[8]) noexcept {
    if (!words || !out) return;
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(words[0] >> (24 - 8 * i));
        out[4 + i] = static_cast<uint8_t>(words[1] >> (24 - 8 * i));
    }
}

void DesRounds(uint32_t words[2], const DesSchedule& schedule) noexcept {
    if (!words) return;
    const uint64_t block = Permute64((uint64_t{words[0]} << 32) | words[1], kInitialPerm);
    uint32_t left = Rotl32(static_cast<uint32_t>(block >> 32), 1);
    uint32_t right = Rotl32(static_cast<uint32_t>(block), 1);
    const uint32_t* key = schedule.words;
    for (int round = 0; round < 16; ++round, key += 2) {
        // Expansion groups 1, 3, 5, 7 sit at bits 24, 16, 8 and 0 of the rotated-right
        // copy, groups 2, 4, 6, 8 at the same places of the word itself.
        uint32_t work = Rotr32(right, 4) ^ key[0];
        uint32_t f = kSp.sp[0][(work >> 24) & 63] | kSp.sp[2][(work >> 16) & 63] | kSp.sp[4][(work >> 8) & 63] |
                     kSp.sp[6][work & 63];
        work = right ^ key[1];
        f |= kSp.sp[1][(work >> 24) & 63] | kSp.sp[3][(work >> 16) & 63] | kSp.sp[5][(work >> 8) & 63] |
             kSp.sp[7][work & 63];
        const uint32_t next = left ^ f;
        left = right;
        right = next;
    }
    // The halves are swapped after the last round.
    const uint64_t preoutput = (uint64_t{Rotr32(right, 1)} << 32) | Rotr32(left, 1);
    const uint64_t out = Permute64(preoutput, kFinalPerm);
    words[0] = static_cast<uint32_t>(out >> 32);
    words[1] = static_cast<uint32_t>(out);
}

void DesCryptBlock(const DesSchedule& schedule, const uint8_t in[8], uint8_t out[8]) noexcept {
    if (!in || !out) return;
    uint32_t words[2];
    DesBytesToWords(in, words);
    DesRounds(words, schedule);
    DesWordsToBytes(words, out);
}

void DesSetKey(const uint8_t key[8], int direction) noexcept { DesSetKey(t_desSchedule, key, direction); }

void DesCryptBlock(const uint8_t in[8], uint8_t out[8]) noexcept { DesCryptBlock(t_desSchedule, in, out); }

// ---------------------------------------------------------------------------------
// AES

namespace {

constexpr uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t GfMul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

struct AesTables {
    uint8_t sbox[256];
    uint32_t te[4][256];
    uint32_t rcon[10];
    constexpr AesTables() : sbox(), te(), rcon() {
        for (int x = 0; x < 256; ++x) {
            // Multiplicative inverse (x^254), then the affine map.
            uint8_t inv = 0;
            if (x) {
                uint8_t p = 1;
                for (int i = 0; i < 254; ++i) p = GfMul(p, static_cast<uint8_t>(x));
                inv = p;
            }
            uint8_t s = inv;
            for (int i = 1; i <= 4; ++i) s ^= static_cast<uint8_t>((inv << i) | (inv >> (8 - i)));
            sbox[x] = static_cast<uint8_t>(s ^ 0x63);
        }
        for (int x = 0; x < 256; ++x) {
            const uint8_t s = sbox[x];
            const uint32_t t = uint32_t{GfMul(s, 2)} << 24 | uint32_t{s} << 16 | uint32_t{s} << 8 | GfMul(s, 3);
            te[0][x] = t;
            te[1][x] = Rotr32(t, 8);
            te[2][x] = Rotr32(t, 16);
            te[3][x] = Rotr32(t, 24);
        }
        uint8_t r = 1;
        for (int i = 0; i < 10; ++i) {
            rcon[i] = uint32_t{r} << 24;
            r = XTime(r);
        }
    }
};
constexpr AesTables kAes;

uint32_t SubWord(uint32_t w) {
    return uint32_t{kAes.sbox[w >> 24]} << 24 | uint32_t{kAes.sbox[(w >> 16) & 255]} << 16 |
           uint32_t{kAes.sbox[(w >> 8) & 255]} << 8 | kAes.sbox[w & 255];
}

uint32_t InvMixColumn(uint32_t w) {
    const uint8_t a0 = static_cast<uint8_t>(w >> 24), a1 = static_cast<uint8_t>(w >> 16);
    const uint8_t a2 = static_cast<uint8_t>(w >> 8), a3 = static_cast<uint8_t>(w);
    const uint8_t b0 = GfMul(a0, 14) ^ GfMul(a1, 11) ^ GfMul(a2, 13) ^ GfMul(a3, 9);
    const uint8_t b1 = GfMul(a0, 9) ^ GfMul(a1, 14) ^ GfMul(a2, 11) ^ GfMul(a3, 13);
    const uint8_t b2 = GfMul(a0, 13) ^ GfMul(a1, 9) ^ GfMul(a2, 14) ^ GfMul(a3, 11);
    const uint8_t b3 = GfMul(a0, 11) ^ GfMul(a1, 13) ^ GfMul(a2, 9) ^ GfMul(a3, 14);
    return uint32_t{b0} << 24 | uint32_t{b1} << 16 | uint32_t{b2} << 8 | b3;
}

uint32_t LoadBe(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

void StoreBe(uint32_t v, uint8_t* p) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

AesCipher::~AesCipher() {
    WipeMemory(m_encKeys, sizeof(m_encKeys));
    WipeMemory(m_decKeys, sizeof(m_decKeys));
    WipeMemory(m_chain, sizeof(m_chain));
    WipeMemory(m_work, sizeof(m_work));
}

void AesCipher::Init(const uint8_t* key, const uint8_t* iv, int keyLength, int blockLength) noexcept {
    m_state = 0;
    if (!key || keyLength != 32 || blockLength != 16) return;
    m_keyLength = keyLength;
    m_blockLength = blockLength;
    m_rounds = 14;
    memset(m_iv, 0, sizeof(m_iv));
    if (iv) memcpy(m_iv, iv, 16);
    memcpy(m_chain, m_iv, sizeof(m_chain));

    // Key expansion for Nk = 8: 4 * (14 + 1) = 60 words.
    uint32_t w[60];
    for (int i = 0; i < 8; ++i) w[i] = LoadBe(key + 4 * i);
    for (int i = 8; i < 60; ++i) {
        uint32_t t = w[i - 1];
        if (i % 8 == 0)
            t = SubWord(Rotl32(t, 8)) ^ kAes.rcon[i / 8 - 1];
        else if (i % 8 == 4)
            t = SubWord(t);
        w[i] = w[i - 8] ^ t;
    }
    memset(m_encKeys, 0, sizeof(m_encKeys));
    memset(m_decKeys, 0, sizeof(m_decKeys));
    for (int r = 0; r <= m_rounds; ++r)
        for (int c = 0; c < 4; ++c) m_encKeys[r][c] = w[4 * r + c];
    // Decryption keys: reverse order, InvMixColumns on the inner rounds.
    for (int r = 0; r <= m_rounds; ++r)
        for (int c = 0; c < 4; ++c) {
            const uint32_t k = m_encKeys[m_rounds - r][c];
            m_decKeys[r][c] = (r == 0 || r == m_rounds) ? k : InvMixColumn(k);
        }
    WipeMemory(w, sizeof(w));
    m_state = 1;
}

void AesCipher::EncryptBlock16(const uint8_t in[16], uint8_t out[16]) const noexcept {
    uint32_t s0 = LoadBe(in) ^ m_encKeys[0][0];
    uint32_t s1 = LoadBe(in + 4) ^ m_encKeys[0][1];
    uint32_t s2 = LoadBe(in + 8) ^ m_encKeys[0][2];
    uint32_t s3 = LoadBe(in + 12) ^ m_encKeys[0][3];
    const auto& te = kAes.te;
    for (int r = 1; r < m_rounds; ++r) {
        const uint32_t* k = m_encKeys[r];
        const uint32_t t0 = te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 255] ^ te[2][(s2 >> 8) & 255] ^ te[3][s3 & 255] ^ k[0];
        const uint32_t t1 = te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 255] ^ te[2][(s3 >> 8) & 255] ^ te[3][s0 & 255] ^ k[1];
        const uint32_t t2 = te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 255] ^ te[2][(s0 >> 8) & 255] ^ te[3][s1 & 255] ^ k[2];
        const uint32_t t3 = te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 255] ^ te[2][(s1 >> 8) & 255] ^ te[3][s2 & 255] ^ k[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    // Last round: SubBytes and ShiftRows, no MixColumns.
    const uint32_t* k = m_encKeys[m_rounds];
    const uint8_t* sb = kAes.sbox;
    const uint32_t s[4] = {s0, s1, s2, s3};
    for (int c = 0; c < 4; ++c) {
        const uint32_t v = uint32_t{sb[s[c] >> 24]} << 24 | uint32_t{sb[(s[(c + 1) & 3] >> 16) & 255]} << 16 |
                           uint32_t{sb[(s[(c + 2) & 3] >> 8) & 255]} << 8 | sb[s[(c + 3) & 3] & 255];
        StoreBe(v ^ k[c], out + 4 * c);
    }
}

void AesCipher::EncryptBlock(const uint8_t in[16], uint8_t out[16]) noexcept {
    if (m_state != 1 || !in || !out) return;
    EncryptBlock16(in, out);
}

void AesCipher::XorChain(const uint8_t block[16]) noexcept {
    if (m_state != 1 || !block) return;
    for (int i = 0; i < 16; ++i) m_chain[i] ^= block[i];
}

void AesCipher::EncryptCbc(const uint8_t* in, uint8_t* out, size_t length) noexcept {
    if (m_state != 1 || !in || !out || length == 0 || length % 16 != 0) return;
    for (size_t offset = 0; offset < length; offset += 16) {
        XorChain(in + offset);
        EncryptBlock16(m_chain, m_work);
        memcpy(out + offset, m_work, 16);
        memcpy(m_chain, m_work, 16);
    }
}

bool AesEncryptString(const uint8_t key[32], const uint8_t iv[16], const char* text, uint8_t* out,
                      size_t* outLength) noexcept {
    if (!key || !iv || !text || !outLength) return false;
    const size_t length = strlen(text) + 1;  // the terminator is encrypted with the text
    const size_t pad = 16 - length % 16;     // 1 to 16 bytes, each of the value pad - 1
    const size_t padded = length + pad;
    if (padded < length) return false;
    if (!out || *outLength < padded) {
        *outLength = padded;
        return false;
    }
    uint8_t* plain = new (std::nothrow) uint8_t[padded];
    if (!plain) return false;
    memcpy(plain, text, length);
    memset(plain + length, static_cast<int>(pad - 1), pad);
    memset(out, 0, *outLength);
    *outLength = padded;
    AesCipher cipher;
    cipher.Init(key, iv, 32, 16);
    cipher.EncryptCbc(plain, out, padded);
    WipeMemory(plain, padded);
    delete[] plain;
    return true;
}
