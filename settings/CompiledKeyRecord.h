// Compiled key record: one key of a compiled printer description as it lies in the
// settings cache (little-endian, unaligned). Records are read in place through this
// bounded view, so a damaged cache never makes a reader step past the record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/SoupSlotID.h"

// Record types.
constexpr int kRecordOption = 0;
constexpr int kRecordRange = 1;
constexpr int kRecordRangeExtra = 2;
constexpr int kRecordNote = 3;
constexpr int kRecordSoup = 4;
constexpr int kRecordTable = 5;

// Byte offsets inside a record.
namespace KeyRecordOffset {
constexpr size_t kType = 0;
constexpr size_t kSize = 2;
constexpr size_t kKeyId = 4;
constexpr size_t kDisplayNameId = 6;
constexpr size_t kValueListId = 8;
// Option records.
constexpr size_t kDefaultOption = 10;
constexpr size_t kOptionCount = 12;
constexpr size_t kIdListCount = 14;
constexpr size_t kOptionEntries = 16;
constexpr size_t kOptionEntrySize = 8;
// Range records.
constexpr size_t kRangeTemplate = 10;
constexpr size_t kRangeMinimum = 14;
constexpr size_t kRangeMaximum = 22;
constexpr size_t kRangeInitial = 38;
constexpr size_t kRangeExtra = 46;
// Note records.
constexpr size_t kNoteTemplate = 10;
constexpr size_t kNoteCommentTemplate = 12;
constexpr size_t kNoteDefaultText = 14;
constexpr size_t kNoteMaxLength = 16;
// Soup-string records.
constexpr size_t kSoupBufferSize = 10;
// Table records.
constexpr size_t kTableRows = 10;
constexpr size_t kTableColumns = 12;
}  // namespace KeyRecordOffset

// Smallest extent each record type needs (types 0-5).
size_t GetMinimumRecordSize(int type);

// A record and its extent; neither is owned.
struct CompiledKeyRecord {
    const uint8_t* data = nullptr;
    size_t size = 0;

    // Each reader returns false (and leaves out alone) when the field lies outside
    // the extent.
    bool ReadI16(size_t offset, int16_t& out) const;
    bool ReadU16(size_t offset, uint16_t& out) const;
    bool ReadI32(size_t offset, int32_t& out) const;
    bool ReadF64(size_t offset, double& out) const;
    // A 16-bit soup slot id (negative = none); invalid when outside the extent.
    SoupSlotID ReadSlot(size_t offset) const;

    // The record type as unsigned 16-bit, or -1 when the record is too short.
    int GetType() const;
    SoupSlotID GetKeyId() const { return ReadSlot(KeyRecordOffset::kKeyId); }
};
