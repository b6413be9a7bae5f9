// The plug-in's private device-mode block ({total size, "VYRI", version 1, checksum}
// then the values of the private keys), the view CDevmode over one, and the answer to
// the core driver's device-mode requests.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/DriverKit.h"

class CfgSettings;

constexpr uint32_t kDevmodeSignature = 0x56595249;  // "VYRI" read as a big-endian number
constexpr uint32_t kDevmodeVersion = 1;
constexpr uint32_t kDevmodeHeaderSize = 16;

// A view over one block; it never owns the memory.
class CDevmode {
public:
    // The view holds the block only when block and settings are given, the PPD has a
    // private payload, and capacity is 0 (not checked) or at least the required size.
    CDevmode(void* block, uint32_t capacity, CfgSettings* settings);
    virtual ~CDevmode() = default;
    CDevmode(const CDevmode&) = delete;
    // Copies other's block into this one (as CopyFrom).
    CDevmode& operator=(const CDevmode& other);

    // Payload size + 16; 0 for null settings or an empty payload.
    static uint32_t GetRequiredSize(CfgSettings* settings);
    // Writes the PPD's default block; false (nothing written) when the defaults cannot
    // be had or capacity is short.
    static bool WriteDefaults(void* block, uint32_t capacity, CfgSettings* settings);

    bool IsEmpty() const { return m_block == nullptr; }
    uint8_t* GetPayload() const { return m_block ? m_block + kDevmodeHeaderSize : nullptr; }
    uint32_t GetPayloadSize() const { return m_block ? m_payloadSize : 0; }
    uint32_t GetTotalSize() const { return m_block ? m_payloadSize + kDevmodeHeaderSize : 0; }
    uint32_t ComputePayloadChecksum() const;
    bool UpdateChecksum();
    // Size, signature, version, then the checksum over the payload.
    bool IsValid() const;
    bool CopyFrom(const CDevmode& other);

private:
    uint8_t* m_block = nullptr;
    uint32_t m_payloadSize = 0;
};

// Answers OEMDM_SIZE, OEMDM_DEFAULT, OEMDM_CONVERT and OEMDM_MERGE for the PPD's
// settings. Failures return E_FAIL with last error ERROR_INVALID_PARAMETER.
HRESULT ProcessOemDevmodeRequest(DWORD mode, OEMDMPARAM* param, CfgSettings* settings) noexcept;
