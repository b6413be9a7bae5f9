// Password-based encryption of settings text through CryptoAPI (a key derived from the
// MD5 of a password; the cipher text is upper-case hexadecimal), and the 32-bit checksum
// of the private device-mode block.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

class Crypto {
public:
    // Derives the key (algorithm, keyBits) from the password; a null or empty password,
    // or any CryptoAPI failure, leaves the object without a key.
    Crypto(const wchar_t* password, ALG_ID algorithm, DWORD keyBits) noexcept;
    virtual ~Crypto();

    Crypto(const Crypto&) = delete;
    Crypto& operator=(const Crypto&) = delete;

    // Releases what is held, then acquires the provider, hashes the password and derives
    // the key. True when the object has a key afterwards.
    bool Init(const wchar_t* password, ALG_ID algorithm, DWORD keyBits) noexcept;
    // Destroys the key, then the hash, then releases the provider.
    void Release() noexcept;
    bool HasKey() const noexcept { return m_key != 0; }

    // The UTF-16LE text with its terminator, encrypted, as upper-case hex (new[]; free
    // with delete[]); null without a key or text, or on failure. Every call starts from
    // the key's initial state, so equal texts give equal cipher texts.
    wchar_t* EncryptToHex(const wchar_t* text) noexcept;
    // The decrypted text (new[]; always terminated; the caller should wipe it before
    // freeing, e.g. with SecretWText); null without a key or text, or on failure.
    wchar_t* DecryptFromHex(const wchar_t* hex) noexcept;

private:
    HCRYPTPROV m_provider = 0;
    HCRYPTKEY m_key = 0;
    HCRYPTHASH m_hash = 0;
};

// Hash (algorithm) of the password's UTF-16LE bytes without the terminator; 0 for a null
// provider, a null or empty password or a failure.
HCRYPTHASH CreatePasswordHash(HCRYPTPROV provider, ALG_ID algorithm, const wchar_t* password) noexcept;

// h = 0; for each byte: h = h * 9, then h ^= byte.
uint32_t ComputeChecksum(const uint8_t* data, int count) noexcept;
