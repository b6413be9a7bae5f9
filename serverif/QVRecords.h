// Result records that the print-server interface library hands to the two-way server: a
// key/value pair, the e-mail readiness flag and a block-allocated list of records.
//
// The same definitions are compiled into both modules of one process (same width), so the
// records and the list cross the library boundary as objects: the caller makes the list,
// the library makes the records and appends them, and the library's matching free export
// deletes them again. The layouts are fixed below per width.
#pragma once

#include <cstddef>
#include <cstdint>

// Base of every record; the deleting destructor is its one virtual operation.
class QVObject {
public:
    virtual ~QVObject() = default;
};

// One key/value pair of wide texts, cut to the field widths (always terminated, and never
// ending in half of a surrogate pair).
class QVKeyVal : public QVObject {
public:
    static constexpr size_t kKeyChars = 128;    // at most 127 characters and a NUL
    static constexpr size_t kValueChars = 260;  // at most 259 characters and a NUL

    QVKeyVal() noexcept;
    QVKeyVal(const wchar_t* key, const wchar_t* value) noexcept;

    const wchar_t* Key() const noexcept { return m_key; }
    const wchar_t* Value() const noexcept { return m_value; }
    // Null sets an empty text.
    void SetKey(const wchar_t* key) noexcept;
    void SetValue(const wchar_t* value) noexcept;

private:
    wchar_t m_key[kKeyChars];
    wchar_t m_value[kValueChars];
};

// E-mail notification readiness: 1 when notification is both possible and switched on.
class QVEmailNotification : public QVObject {
public:
    QVEmailNotification() noexcept = default;

    int32_t IsReady() const noexcept { return m_ready; }
    void SetReady(int32_t ready) noexcept { m_ready = ready; }

private:
    int32_t m_ready = 0;
};

// Copies text into a field of fieldChars units: at most fieldChars - 1 characters and a
// NUL, one fewer when the cut would split a surrogate pair. Null text gives an empty field.
// Returns the characters kept.
size_t CopyFieldText(wchar_t* field, size_t fieldChars, const wchar_t* text) noexcept;

// Doubly linked list of QVObject pointers whose nodes come from blocks of blockSize nodes.
// Removing the last node gives every block back. The list never deletes its objects except
// through DeleteAll.
class QVObList {
public:
    struct Node {
        Node* next;
        Node* prev;
        QVObject* data;
    };
    using Position = Node*;

    explicit QVObList(int32_t blockSize) noexcept;
    virtual ~QVObList();

    QVObList(const QVObList&) = delete;
    QVObList& operator=(const QVObList&) = delete;

    // Appends the object; returns its node, null only when no block could be allocated.
    Node* AddTail(QVObject* object) noexcept;
    // Start of an iteration (null for an empty list).
    Position GetHeadPosition() const noexcept { return m_head; }
    // The data at position, advancing position to the next node (null at the end).
    QVObject* GetNext(Position& position) const noexcept;
    // Unlinks the node and frees it.
    void RemoveAt(Node* node) noexcept;
    // Count 0, head, tail and free list null, every block freed; objects are not deleted.
    void RemoveAll() noexcept;
    // Removes the nodes from the head one by one and deletes each non-null object.
    void DeleteAll() noexcept;

    int32_t GetCount() const noexcept { return m_count; }
    int32_t GetBlockSize() const noexcept { return m_blockSize; }
    // Blocks held now (inspection: a list emptied by its owner holds none).
    int32_t GetBlockCount() const noexcept;

protected:
    // A node from the free list (allocating one block when it is empty), linked to the
    // given neighbours, with null data; null when no block could be allocated.
    Node* NewNode(Node* prev, Node* next) noexcept;
    void FreeNode(Node* node) noexcept;

private:
    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    int32_t m_count = 0;
    Node* m_free = nullptr;
    void* m_blocks = nullptr;  // each block: the previous block's address, then the nodes
    int32_t m_blockSize;
};

// The layouts both modules rely on.
#if defined(_WIN64)
static_assert(sizeof(QVKeyVal) == 8 + 2 * 128 + 2 * 260, "QVKeyVal layout (x64)");
static_assert(sizeof(QVEmailNotification) == 16, "QVEmailNotification layout (x64)");
static_assert(sizeof(QVObList) == 56, "QVObList layout (x64)");
static_assert(sizeof(QVObList::Node) == 24, "QVObList node layout (x64)");
#else
static_assert(sizeof(QVKeyVal) == 4 + 2 * 128 + 2 * 260, "QVKeyVal layout (x86)");
static_assert(sizeof(QVEmailNotification) == 8, "QVEmailNotification layout (x86)");
static_assert(sizeof(QVObList) == 28, "QVObList layout (x86)");
static_assert(sizeof(QVObList::Node) == 12, "QVObList node layout (x86)");
#endif
