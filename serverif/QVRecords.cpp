// Result records and the block-allocated record list.
#include "serverif/QVRecords.h"

#include <new>

namespace {

bool IsHighSurrogate(wchar_t ch) { return ch >= 0xD800 && ch <= 0xDBFF; }

}  // namespace

size_t CopyFieldText(wchar_t* field, size_t fieldChars, const wchar_t* text) noexcept
{
    if (!field || fieldChars == 0)
        return 0;
    size_t kept = 0;
    if (text) {
        while (kept + 1 < fieldChars && text[kept] != L'\0') {
            field[kept] = text[kept];
            ++kept;
        }
        // A pair cut after its first half would leave a lone surrogate: drop it whole.
        if (kept > 0 && text[kept] != L'\0' && IsHighSurrogate(field[kept - 1]))
            --kept;
    }
    field[kept] = L'\0';
    return kept;
}

QVKeyVal::QVKeyVal() noexcept
{
    m_key[0] = L'\0';
    m_value[0] = L'\0';
}

QVKeyVal::QVKeyVal(const wchar_t* key, const wchar_t* value) noexcept
{
    SetKey(key);
    SetValue(value);
}

void QVKeyVal::SetKey(const wchar_t* key) noexcept { CopyFieldText(m_key, kKeyChars, key); }

void QVKeyVal::SetValue(const wchar_t* value) noexcept { CopyFieldText(m_value, kValueChars, value); }

QVObList::QVObList(int32_t blockSize) noexcept : m_blockSize(blockSize) {}

QVObList::~QVObList() { RemoveAll(); }

QVObList::Node* QVObList::NewNode(Node* prev, Node* next) noexcept
{
    if (!m_free) {
        if (m_blockSize <= 0)
            return nullptr;
        const size_t bytes = sizeof(void*) + static_cast<size_t>(m_blockSize) * sizeof(Node);
        void* block = ::operator new(bytes, std::nothrow);
        if (!block)
            return nullptr;
        *static_cast<void**>(block) = m_blocks;
        m_blocks = block;
        // Push from the last node to the first, so the block's first node is taken first.
        Node* nodes = reinterpret_cast<Node*>(static_cast<void**>(block) + 1);
        for (int32_t i = m_blockSize - 1; i >= 0; --i) {
            nodes[i].next = m_free;
            m_free = &nodes[i];
        }
    }
    Node* node = m_free;
    m_free = node->next;
    node->prev = prev;
    node->next = next;
    node->data = nullptr;
    ++m_count;
    return node;
}

void QVObList::FreeNode(Node* node) noexcept
{
    node->next = m_free;
    m_free = node;
    if (--m_count == 0)
        RemoveAll();
}

QVObList::Node* QVObList::AddTail(QVObject* object) noexcept
{
    Node* node = NewNode(m_tail, nullptr);
    if (!node)
        return nullptr;
    node->data = object;
    if (m_tail)
        m_tail->next = node;
    else
        m_head = node;
    m_tail = node;
    return node;
}

QVObject* QVObList::GetNext(Position& position) const noexcept
{
    Node* node = position;
    if (!node)
        return nullptr;
    position = node->next;
    return node->data;
}

void QVObList::RemoveAt(Node* node) noexcept
{
    if (!node || m_count <= 0)
        return;
    if (node == m_head)
        m_head = node->next;
    else if (node->prev)
        node->prev->next = node->next;
    if (node == m_tail)
        m_tail = node->prev;
    else if (node->next)
        node->next->prev = node->prev;
    FreeNode(node);
}

void QVObList::RemoveAll() noexcept
{
    m_count = 0;
    m_head = nullptr;
    m_tail = nullptr;
    m_free = nullptr;
    while (m_blocks) {
        void* block = m_blocks;
        m_blocks = *static_cast<void**>(block);
        ::operator delete(block);
    }
}

void QVObList::DeleteAll() noexcept
{
    while (m_head) {
        QVObject* object = m_head->data;
        RemoveAt(m_head);
        delete object;
    }
}

int32_t QVObList::GetBlockCount() const noexcept
{
    int32_t blocks = 0;
    for (void* block = m_blocks; block; block = *static_cast<void**>(block))
        ++blocks;
    return blocks;
}
