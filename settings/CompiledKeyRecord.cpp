// Bounded readers of a compiled key record.
#include "settings/CompiledKeyRecord.h"

#include <cstring>

size_t GetMinimumRecordSize(int type) {
    switch (type) {
        case kRecordOption: return KeyRecordOffset::kOptionEntries;
        case kRecordRange: return KeyRecordOffset::kRangeInitial + 8;
        case kRecordRangeExtra: return KeyRecordOffset::kRangeExtra + 4;
        case kRecordNote: return KeyRecordOffset::kNoteMaxLength + 2;
        case kRecordSoup: return KeyRecordOffset::kSoupBufferSize + 2;
        case kRecordTable: return KeyRecordOffset::kTableColumns + 2;
        default: return SIZE_MAX;
    }
}

namespace {
bool Fits(const CompiledKeyRecord& r, size_t offset, size_t width) {
    return r.data && offset <= r.size && width <= r.size - offset;
}
}  // namespace

bool CompiledKeyRecord::ReadI16(size_t offset, int16_t& out) const {
    if (!Fits(*this, offset, 2)) return false;
    out = static_cast<int16_t>(static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8)));
    return true;
}

bool CompiledKeyRecord::ReadU16(size_t offset, uint16_t& out) const {
    if (!Fits(*this, offset, 2)) return false;
    out = static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
    return true;
}

bool CompiledKeyRecord::ReadI32(size_t offset, int32_t& out) const {
    if (!Fits(*this, offset, 4)) return false;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[offset + i];
    out = static_cast<int32_t>(v);
    return true;
}

bool CompiledKeyRecord::ReadF64(size_t offset, double& out) const {
    if (!Fits(*this, offset, 8)) return false;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | data[offset + i];
    std::memcpy(&out, &v, sizeof out);
    return true;
}

SoupSlotID CompiledKeyRecord::ReadSlot(size_t offset) const {
    int16_t v;
    if (!ReadI16(offset, v) || v < 0) return SoupSlotID();
    return SoupSlotID(v);
}

int CompiledKeyRecord::GetType() const {
    uint16_t v;
    return ReadU16(KeyRecordOffset::kType, v) ? v : -1;
}
