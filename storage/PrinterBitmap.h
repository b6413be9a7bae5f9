// The printer-picture records shared by the OEM module and the XML bitmap description: which
// bitmap resource is drawn where, and for which feature/option selections.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int PRINTER_BITMAP_NAME_CHARS = 129;

// One further condition of a record: {feature keyword, option keyword}.
struct PrinterBitmapCondition {
    wchar_t feature[PRINTER_BITMAP_NAME_CHARS];
    wchar_t option[PRINTER_BITMAP_NAME_CHARS];
};

// One picture layer, as the OEM module's "OEMGetPrinterBitmapInfo" delivers it (560 bytes in the
// 64-bit build; natural alignment in both widths, as the module is built for the same processor).
struct PrinterBitmapRecord {
    wchar_t feature[PRINTER_BITMAP_NAME_CHARS];  // empty: no condition
    wchar_t option[PRINTER_BITMAP_NAME_CHARS];
    int32_t xOffset;
    int32_t yOffset;
    int32_t maskId;
    int32_t reserved;
    int32_t resourceId;
    int32_t state;
    PrinterBitmapCondition* conditions;  // further conditions, or null
    uint32_t conditionCount;
};

static_assert(offsetof(PrinterBitmapRecord, option) == 258, "record layout");
static_assert(offsetof(PrinterBitmapRecord, xOffset) == 516, "record layout");
static_assert(offsetof(PrinterBitmapRecord, resourceId) == 532, "record layout");
static_assert(sizeof(void*) != 8 || offsetof(PrinterBitmapRecord, conditions) == 544, "record layout");
static_assert(sizeof(void*) != 8 || offsetof(PrinterBitmapRecord, conditionCount) == 552, "record layout");
static_assert(sizeof(void*) != 8 || sizeof(PrinterBitmapRecord) == 560, "record layout");
static_assert(sizeof(PrinterBitmapCondition) == 516, "condition layout");

// Upper bounds taken from a module or file: far beyond any real printer picture.
constexpr int PRINTER_BITMAP_MAX_RECORDS = 4096;
constexpr uint32_t PRINTER_BITMAP_MAX_CONDITIONS = 256;

// Owner of a set of records whose condition arrays were allocated with new[]: every record
// copied in here owns its own conditions, whoever made the original.
class PrinterBitmapTable {
public:
    PrinterBitmapTable() = default;
    ~PrinterBitmapTable() { Clear(); }
    PrinterBitmapTable(const PrinterBitmapTable&) = delete;
    PrinterBitmapTable& operator=(const PrinterBitmapTable&) = delete;

    // Frees every record's conditions and empties the table.
    void Clear() noexcept
    {
        for (auto& record : m_records) {
            delete[] record.conditions;
            record.conditions = nullptr;
        }
        m_records.clear();
    }

    // Takes over a record whose conditions are new[]-allocated (or null). Returns false (and
    // frees the conditions) when the table is full or memory runs out.
    bool Adopt(const PrinterBitmapRecord& record) noexcept
    {
        if (m_records.size() >= static_cast<size_t>(PRINTER_BITMAP_MAX_RECORDS)) {
            delete[] record.conditions;
            return false;
        }
        try {
            m_records.push_back(record);
        } catch (...) {
            delete[] record.conditions;
            return false;
        }
        return true;
    }

    size_t Count() const noexcept { return m_records.size(); }
    const PrinterBitmapRecord* Data() const noexcept { return m_records.data(); }
    const PrinterBitmapRecord& operator[](size_t index) const noexcept { return m_records[index]; }

private:
    std::vector<PrinterBitmapRecord> m_records;
};
