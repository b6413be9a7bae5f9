// Private device-mode block: layout checks, defaults, and the device-mode requests.
#include "storage/Devmode.h"

#include <cstring>

#include "foundation/Crypto.h"
#include "storage/CfgSettings.h"

namespace {

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Checksum(const uint8_t* data, uint32_t size) {
    // The foundation checksum counts in int; payloads never come near that.
    return size == 0 ? 0 : ComputeChecksum(data, static_cast<int>(size));
}

uint32_t PayloadSize(CfgSettings* settings) {
    return settings ? settings->GetSectionSize(CFG_SECTION_VYRUI_DEFAULTS) : 0;
}

HRESULT Fail() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return E_FAIL;
}

}  // namespace

CDevmode::CDevmode(void* block, uint32_t capacity, CfgSettings* settings) {
    if (!block || !settings) return;
    const uint32_t payload = PayloadSize(settings);
    if (payload == 0 || payload > 0xFFFFFFFFu - kDevmodeHeaderSize) return;
    if (capacity != 0 && capacity < payload + kDevmodeHeaderSize) return;
    m_block = static_cast<uint8_t*>(block);
    m_payloadSize = payload;
}

CDevmode& CDevmode::operator=(const CDevmode& other) {
    CopyFrom(other);
    return *this;
}

uint32_t CDevmode::GetRequiredSize(CfgSettings* settings) {
    const uint32_t payload = PayloadSize(settings);
    if (payload == 0 || payload > 0xFFFFFFFFu - kDevmodeHeaderSize) return 0;
    return payload + kDevmodeHeaderSize;
}

bool CDevmode::WriteDefaults(void* block, uint32_t capacity, CfgSettings* settings) {
    if (!block || !settings) return false;
    uint32_t payload = 0;
    const uint8_t* defaults = settings->GetSectionData(CFG_SECTION_VYRUI_DEFAULTS, &payload);
    if (!defaults || payload == 0 || payload > 0xFFFFFFFFu - kDevmodeHeaderSize) return false;
    if (capacity < payload + kDevmodeHeaderSize) return false;
    uint8_t* b = static_cast<uint8_t*>(block);
    std::memmove(b + kDevmodeHeaderSize, defaults, payload);
    PutU32(b, payload + kDevmodeHeaderSize);
    PutU32(b + 4, kDevmodeSignature);
    PutU32(b + 8, kDevmodeVersion);
    PutU32(b + 12, Checksum(b + kDevmodeHeaderSize, payload));
    return true;
}

uint32_t CDevmode::ComputePayloadChecksum() const {
    return m_block ? Checksum(m_block + kDevmodeHeaderSize, m_payloadSize) : 0;
}

bool CDevmode::UpdateChecksum() {
    if (!m_block) return false;
    PutU32(m_block + 12, ComputePayloadChecksum());
    return true;
}

bool CDevmode::IsValid() const {
    // The header is checked before the payload is read: a block whose size field does
    // not match is never walked for its checksum.
    if (!m_block) return false;
    if (GetU32(m_block) != m_payloadSize + kDevmodeHeaderSize) return false;
    if (GetU32(m_block + 4) != kDevmodeSignature) return false;
    if (GetU32(m_block + 8) != kDevmodeVersion) return false;
    return GetU32(m_block + 12) == ComputePayloadChecksum();
}

bool CDevmode::CopyFrom(const CDevmode& other) {
    if (&other == this || !m_block || !other.m_block) return false;
    if (GetTotalSize() < other.GetTotalSize() || !other.IsValid()) return false;
    std::memmove(m_block, other.m_block, other.GetTotalSize());
    m_payloadSize = other.m_payloadSize;
    return true;
}

HRESULT ProcessOemDevmodeRequest(DWORD mode, OEMDMPARAM* param, CfgSettings* settings) noexcept {
    try {
        if (!param || !settings) return Fail();
        const uint32_t required = CDevmode::GetRequiredSize(settings);
        switch (mode) {
        case OEMDM_SIZE:
            param->cbBufSize = required;
            return S_OK;
        case OEMDM_DEFAULT:
            if (param->cbBufSize < required) return Fail();
            // No private keys: no block, nothing to write.
            if (required == 0) return S_OK;
            // Defaults that could not be written are a failure, never an uninitialised block.
            return CDevmode::WriteDefaults(param->pOEMDMOut, param->cbBufSize, settings) ? S_OK : Fail();
        case OEMDM_CONVERT:
        case OEMDM_MERGE: {
            if (param->cbBufSize < required) return Fail();
            if (param->pOEMDMIn && param->pOEMDMIn == param->pOEMDMOut) {
                // Converting a block in place: a valid one stays; the defaults would
                // otherwise overwrite the input before it was looked at.
                CDevmode same(param->pOEMDMOut, param->cbBufSize, settings);
                if (!same.IsEmpty() && same.IsValid()) {
                    param->cbBufSize = same.GetTotalSize();
                    return S_OK;
                }
            }
            if (!CDevmode::WriteDefaults(param->pOEMDMOut, param->cbBufSize, settings)) return Fail();
            CDevmode out(param->pOEMDMOut, param->cbBufSize, settings);
            // The input's extent is not known: its size field is checked against this PPD's
            // size before anything past the header is read.
            CDevmode in(param->pOEMDMIn, 0, settings);
            if (!in.IsEmpty() && in.IsValid()) out.CopyFrom(in);
            param->cbBufSize = out.GetTotalSize();
            return S_OK;
        }
        default:
            return S_OK;
        }
    } catch (...) {
        return Fail();
    }
}
