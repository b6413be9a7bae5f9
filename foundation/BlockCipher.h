// The system's own block ciphers (no CryptoAPI): single DES on 8-byte blocks and AES-256
// in cipher-block chaining, with the string encryptor of the module managers.
// Nothing here stores a key beyond the objects the caller holds.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------
// DES

constexpr int kDesEncrypt = 0;
constexpr int kDesDecrypt = 1;

// The 16 round subkeys in the packed form of the round function: two words per round,
// each holding four 6-bit groups. The caller owns it, so concurrent users never share one.
struct DesSchedule {
    uint32_t words[32];
};

// Key schedule for key (8 bytes, parity bits ignored); direction kDesDecrypt stores the
// subkeys in reverse order. A null key leaves the schedule zeroed.
void DesSetKey(DesSchedule& schedule, const uint8_t key[8], int direction) noexcept;
// One block of DES in the schedule's direction; in and out may be the same buffer.
void DesCryptBlock(const DesSchedule& schedule, const uint8_t in[8], uint8_t out[8]) noexcept;

// The same two operations over the calling thread's own schedule: a key set on one thread
// never affects another thread's blocks.
void DesSetKey(const uint8_t key[8], int direction) noexcept;
void DesCryptBlock(const uint8_t in[8], uint8_t out[8]) noexcept;

// Steps of the above.
// Regroups 16 raw 48-bit subkeys (raw[i][g] = the 6-bit group g+1 of round i's subkey)
// into the packed form: word 2i holds groups 1, 3, 5, 7 and word 2i+1 groups 2, 4, 6, 8.
void DesPackSubkeys(const uint8_t raw[16][8], uint32_t packed[32]) noexcept;
// Copies 32 packed words into a schedule.
void DesStoreSchedule(const uint32_t packed[32], DesSchedule& schedule) noexcept;
// Big-endian block <-> two 32-bit words.
void DesBytesToWords(const uint8_t in[8], uint32_t words[2]) noexcept;
void DesWordsToBytes(const uint32_t words[2], uint8_t out[8]) noexcept;
// Initial permutation, 16 rounds and final permutation on two words, in place.
void DesRounds(uint32_t words[2], const DesSchedule& schedule) noexcept;

// ---------------------------------------------------------------------------------
// AES (256-bit keys, 16-byte blocks)

class AesCipher {
public:
    AesCipher() noexcept = default;
    ~AesCipher();

    AesCipher(const AesCipher&) = delete;
    AesCipher& operator=(const AesCipher&) = delete;

    // Ready only for a non-null key, keyLength 32 and blockLength 16; the iv (16 bytes,
    // null means zeros) starts the chain. Any other call leaves the cipher not ready.
    void Init(const uint8_t* key, const uint8_t* iv, int keyLength, int blockLength) noexcept;
    bool IsReady() const noexcept { return m_state == 1; }

    // One 16-byte block (nothing when not ready).
    void EncryptBlock(const uint8_t in[16], uint8_t out[16]) noexcept;
    // chain ^= block (only when ready).
    void XorChain(const uint8_t block[16]) noexcept;
    // CBC over length bytes (nothing unless ready and length is a non-zero multiple of
    // 16); the chain carries over between calls.
    void EncryptCbc(const uint8_t* in, uint8_t* out, size_t length) noexcept;

private:
    void EncryptBlock16(const uint8_t in[16], uint8_t out[16]) const noexcept;

    int m_state = 0;
    uint32_t m_encKeys[15][8] = {};
    uint32_t m_decKeys[15][8] = {};
    int m_keyLength = 0;
    int m_blockLength = 0;
    int m_rounds = 0;
    uint8_t m_iv[32] = {};
    uint8_t m_chain[32] = {};
    uint8_t m_work[32] = {};
};

// Encrypts text with its terminator, padded to a multiple of 16 with n bytes of value n-1
// (n from 1 to 16), by AES-256-CBC (key 32 bytes, iv 16 bytes). *outLength gives the
// capacity of out and receives the padded length. Returns false (writing nothing) for
// null key, iv, text or outLength, and when out is null or smaller than the padded
// length: *outLength then holds the length needed.
bool AesEncryptString(const uint8_t key[32], const uint8_t iv[16], const char* text, uint8_t* out,
                      size_t* outLength) noexcept;
