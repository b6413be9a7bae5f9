// CryptoAPI wrapper for password-based encryption of settings text, and the block
// checksum of the private device-mode block.
#include "foundation/Crypto.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "foundation/StrUtil.h"

namespace {

constexpr wchar_t kProviderName[] = L"Microsoft Base Cryptographic Provider v1.0";

// A copy of the derived key in its initial state, destroyed at the end of the scope, so
// every operation starts the cipher afresh whatever the provider does after a final call.
class KeyCopy {
public:
    explicit KeyCopy(HCRYPTKEY key) {
        if (key && !CryptDuplicateKey(key, nullptr, 0, &m_key)) m_key = 0;
    }
    ~KeyCopy() {
        if (m_key) CryptDestroyKey(m_key);
    }
    KeyCopy(const KeyCopy&) = delete;
    KeyCopy& operator=(const KeyCopy&) = delete;
    HCRYPTKEY Get() const { return m_key; }

private:
    HCRYPTKEY m_key = 0;
};

// A byte buffer that is wiped before it is freed.
class WipedBytes {
public:
    explicit WipedBytes(size_t size) : m_bytes(new (std::nothrow) uint8_t[size]()), m_size(m_bytes ? size : 0) {}
    ~WipedBytes() {
        WipeMemory(m_bytes, m_size);
        delete[] m_bytes;
    }
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    uint8_t* Get() const { return m_bytes; }

private:
    uint8_t* m_bytes;
    size_t m_size;
};

}  // namespace

HCRYPTHASH CreatePasswordHash(HCRYPTPROV provider, ALG_ID algorithm, const wchar_t* password) noexcept {
    if (!provider || !password || !password[0]) return 0;
    const size_t length = wcslen(password);
    if (length > 0x3FFFFFFF) return 0;
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) return 0;
    if (!CryptHashData(hash, reinterpret_cast<const BYTE*>(password), static_cast<DWORD>(length * sizeof(wchar_t)),
                       0)) {
        CryptDestroyHash(hash);
        return 0;
    }
    return hash;
}

Crypto::Crypto(const wchar_t* password, ALG_ID algorithm, DWORD keyBits) noexcept {
    Init(password, algorithm, keyBits);
}

Crypto::~Crypto() { Release(); }

bool Crypto::Init(const wchar_t* password, ALG_ID algorithm, DWORD keyBits) noexcept {
    Release();
    if (!password || !password[0] || keyBits > 0xFFFF) return false;
    bool ok = CryptAcquireContextW(&m_provider, nullptr, kProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) != 0;
    if (!ok) m_provider = 0;
    if (ok) {
        m_hash = CreatePasswordHash(m_provider, CALG_MD5, password);
        ok = m_hash != 0;
    }
    if (ok) {
        // The key length travels in the upper 16 bits of the flags.
        ok = CryptDeriveKey(m_provider, algorithm, m_hash, keyBits << 16, &m_key) != 0;
        if (!ok) m_key = 0;
    }
    if (!ok) Release();
    return ok;
}

void Crypto::Release() noexcept {
    // The key and the hash belong to the provider: destroy them before releasing it.
    if (m_key) CryptDestroyKey(m_key);
    if (m_hash) CryptDestroyHash(m_hash);
    if (m_provider) CryptReleaseContext(m_provider, 0);
    m_key = 0;
    m_hash = 0;
    m_provider = 0;
}

wchar_t* Crypto::EncryptToHex(const wchar_t* text) noexcept {
    if (!m_key || !text) return nullptr;
    const size_t chars = wcslen(text) + 1;
    if (chars > 0x1FFFFFF0) return nullptr;
    const DWORD plainLength = static_cast<DWORD>(chars * sizeof(wchar_t));

    KeyCopy key(m_key);
    if (!key.Get()) return nullptr;
    DWORD cipherLength = plainLength;
    if (!CryptEncrypt(key.Get(), 0, TRUE, 0, nullptr, &cipherLength, 0) && GetLastError() != ERROR_MORE_DATA)
        return nullptr;
    const DWORD bufferLength = cipherLength > plainLength ? cipherLength : plainLength;

    WipedBytes buffer(bufferLength);
    if (!buffer.Get()) return nullptr;
    memcpy(buffer.Get(), text, plainLength);
    DWORD dataLength = plainLength;
    if (!CryptEncrypt(key.Get(), 0, TRUE, 0, buffer.Get(), &dataLength, bufferLength) || dataLength > bufferLength)
        return nullptr;

    const int digits = BytesToHex(buffer.Get(), static_cast<int>(dataLength), nullptr, 0);
    if (digits <= 0) return nullptr;
    wchar_t* hex = new (std::nothrow) wchar_t[static_cast<size_t>(digits) + 1];
    if (!hex) return nullptr;
    BytesToHex(buffer.Get(), static_cast<int>(dataLength), hex, static_cast<unsigned>(digits));
    hex[digits] = 0;
    return hex;
}

wchar_t* Crypto::DecryptFromHex(const wchar_t* hex) noexcept {
    if (!m_key || !hex) return nullptr;
    const int n = HexToBytes(hex, nullptr, 0);
    if (n <= 0) return nullptr;
    // Room for the bytes and at least two zero bytes after them, as wide characters so
    // that the caller frees what was allocated.
    const size_t chars = static_cast<size_t>(n) / 2 + 2;
    wchar_t* text = new (std::nothrow) wchar_t[chars]();
    if (!text) return nullptr;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(text);
    KeyCopy key(m_key);
    DWORD length = static_cast<DWORD>(n);
    if (HexToBytes(hex, bytes, static_cast<unsigned>(n)) != n || !key.Get() ||
        !CryptDecrypt(key.Get(), 0, TRUE, 0, bytes, &length) || length > static_cast<DWORD>(n)) {
        WipeMemory(text, chars * sizeof(wchar_t));
        delete[] text;
        return nullptr;
    }
    // Clear what lies beyond the plain text (padding of block ciphers).
    WipeMemory(bytes + length, chars * sizeof(wchar_t) - length);
    return text;
}

uint32_t ComputeChecksum(const uint8_t* data, int count) noexcept {
    if (!data || count <= 0) return 0;
    uint32_t h = 0;
    for (int i = 0; i < count; ++i) {
        h *= 9;
        h ^= data[i];
    }
    return h;
}
