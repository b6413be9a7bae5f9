// MSXML DOM reading of the printer-picture description (bitmap layers, feature and option
// display names, named bitmaps).
#include "storage/XMLParser.h"

#include <msxml2.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "foundation/StrUtil.h"

namespace {

// The version-independent DOM document class and its interface (no import library has them).
constexpr CLSID kDomDocumentClassId = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kXmlDomDocumentId = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kXmlDomDocument2Id = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr int kNumberChars = 50;
constexpr int kIdChars = 128;
constexpr int kQueryChars = 256;
constexpr int kBitmapNameChars = 64;

// Owner of one COM interface pointer.
template <class T>
class ComHolder {
public:
    ComHolder() = default;
    ~ComHolder() { Reset(); }
    ComHolder(const ComHolder&) = delete;
    ComHolder& operator=(const ComHolder&) = delete;
    T** Out() noexcept { Reset(); return &m_ptr; }
    T* Get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }
    void Reset() noexcept
    {
        if (m_ptr != nullptr)
            m_ptr->Release();
        m_ptr = nullptr;
    }

private:
    T* m_ptr = nullptr;
};

// Owner of one BSTR.
class BstrHolder {
public:
    BstrHolder() = default;
    explicit BstrHolder(const wchar_t* text) : m_text(text != nullptr ? SysAllocString(text) : nullptr) {}
    ~BstrHolder() { SysFreeString(m_text); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    BSTR* Out() noexcept { SysFreeString(m_text); m_text = nullptr; return &m_text; }
    BSTR Get() const noexcept { return m_text; }
    const wchar_t* Text() const noexcept { return m_text != nullptr ? m_text : L""; }

private:
    BSTR m_text = nullptr;
};

// Copies a text into a buffer of size characters (always terminated, cut when longer).
void CopyBounded(wchar_t* out, int size, const wchar_t* text)
{
    if (out == nullptr || size <= 0)
        return;
    StrNCopy(out, static_cast<size_t>(size), text != nullptr ? text : L"", static_cast<size_t>(size) - 1);
}

// Returns the text of the first node that query selects below node, or false when none.
bool SelectSingleText(IXMLDOMNode* node, const wchar_t* query, BstrHolder& text)
{
    if (node == nullptr || query == nullptr)
        return false;
    BstrHolder xpath(query);
    if (xpath.Get() == nullptr)
        return false;
    ComHolder<IXMLDOMNode> found;
    if (node->selectSingleNode(xpath.Get(), found.Out()) != S_OK || !found)
        return false;
    return found->get_text(text.Out()) == S_OK;
}

// Returns the integer value of an attribute (0 when absent or not a number).
int ReadNumberAttribute(IXMLDOMNode* node, const wchar_t* name)
{
    wchar_t value[kNumberChars];
    CXMLParser::GetAttributeValue(node, name, value, kNumberChars);
    return _wtoi(value);
}

} // namespace

CXMLParser::CXMLParser(const wchar_t* path)
{
    if (path == nullptr)
        return;
    // The document lives in this thread's apartment; a thread already in another apartment
    // model keeps its own.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_uninitialize = SUCCEEDED(init);

    if (FAILED(CoCreateInstance(kDomDocumentClassId, nullptr, CLSCTX_ALL, kXmlDomDocumentId,
                                reinterpret_cast<void**>(&m_document))) ||
        m_document == nullptr) {
        m_document = nullptr;
        return;
    }
    m_document->put_async(VARIANT_FALSE);
    m_document->put_validateOnParse(VARIANT_FALSE);
    m_document->put_resolveExternals(VARIANT_FALSE);
    // Queries are XPath; older MSXML versions default to XSL patterns.
    ComHolder<IXMLDOMDocument2> document2;
    if (SUCCEEDED(m_document->QueryInterface(kXmlDomDocument2Id, reinterpret_cast<void**>(document2.Out()))) &&
        document2) {
        BstrHolder property(L"SelectionLanguage");
        VARIANT language;
        VariantInit(&language);
        language.vt = VT_BSTR;
        language.bstrVal = SysAllocString(L"XPath");
        if (property.Get() != nullptr && language.bstrVal != nullptr)
            document2->setProperty(property.Get(), language);
        VariantClear(&language);
    }

    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(path);
    if (source.bstrVal == nullptr)
        return;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT hr = m_document->load(source, &loaded);
    VariantClear(&source);
    if (hr == S_OK && loaded == VARIANT_TRUE) {
        m_loaded = 1;
        return;
    }

    BstrHolder reason;
    ComHolder<IXMLDOMParseError> error;
    if (m_document->get_parseError(error.Out()) == S_OK && error)
        error->get_reason(reason.Out());
    WText message(FormatAlloc(L"Failed to load DOM. %s\n", reason.Text()));
    StrUtil<char, wchar_t> narrow(message.get());
    if (narrow.Get() != nullptr) {
        std::fputs(narrow.Get(), stdout);
        std::fflush(stdout);
    }
}

CXMLParser::~CXMLParser()
{
    if (m_document != nullptr)
        m_document->Release();
    m_document = nullptr;
    if (m_uninitialize)
        CoUninitialize();
}

bool CXMLParser::GetAttributeValue(IXMLDOMNode* node, const wchar_t* name, wchar_t* out, int maxChars)
{
    if (out == nullptr || maxChars <= 0)
        return false;
    out[0] = L'\0';
    if (node == nullptr || name == nullptr)
        return false;
    ComHolder<IXMLDOMNamedNodeMap> attributes;
    if (node->get_attributes(attributes.Out()) != S_OK || !attributes)
        return false;
    long count = 0;
    if (attributes->get_length(&count) != S_OK)
        return false;
    for (long i = 0; i < count; ++i) {
        ComHolder<IXMLDOMNode> attribute;
        if (attributes->get_item(i, attribute.Out()) != S_OK || !attribute)
            continue;
        BstrHolder attributeName;
        if (attribute->get_nodeName(attributeName.Out()) != S_OK || std::wcscmp(attributeName.Text(), name) != 0)
            continue;
        BstrHolder value;
        if (attribute->get_text(value.Out()) != S_OK)
            return false;
        CopyBounded(out, maxChars, value.Text());
        return true;
    }
    return false;
}

int CXMLParser::GetBitmapTable(PrinterBitmapRecord* records, int capacity)
{
    if (!m_loaded || m_document == nullptr || (records != nullptr && capacity <= 0))
        return 0;
    BstrHolder query(L"//bitmapinfo//bmpgroup//bmp");
    ComHolder<IXMLDOMNodeList> nodes;
    if (query.Get() == nullptr || m_document->selectNodes(query.Get(), nodes.Out()) != S_OK || !nodes)
        return 0;
    long count = 0;
    if (nodes->get_length(&count) != S_OK || count <= 0)
        return 0;
    if (count > PRINTER_BITMAP_MAX_RECORDS)
        count = PRINTER_BITMAP_MAX_RECORDS;
    if (records == nullptr)
        return static_cast<int>(count);

    int filled = 0;
    for (long i = 0; i < count && filled < capacity; ++i) {
        ComHolder<IXMLDOMNode> node;
        if (nodes->get_item(i, node.Out()) != S_OK || !node)
            continue;
        PrinterBitmapRecord& record = records[filled];
        std::memset(&record, 0, sizeof(record));
        record.xOffset = ReadNumberAttribute(node.Get(), L"xoffset");
        record.yOffset = ReadNumberAttribute(node.Get(), L"yoffset");
        record.resourceId = ReadNumberAttribute(node.Get(), L"resid");
        record.maskId = ReadNumberAttribute(node.Get(), L"maskid");
        if (record.maskId == 0)
            record.maskId = record.resourceId;
        record.state = -1;

        // Only element children are selections; comments and text between them are not.
        ComHolder<IXMLDOMNodeList> children;
        long childCount = 0;
        if (node->get_childNodes(children.Out()) == S_OK && children)
            children->get_length(&childCount);
        uint32_t elements = 0;
        for (long c = 0; c < childCount; ++c) {
            ComHolder<IXMLDOMNode> child;
            DOMNodeType type = NODE_INVALID;
            if (children->get_item(c, child.Out()) == S_OK && child && child->get_nodeType(&type) == S_OK &&
                type == NODE_ELEMENT)
                ++elements;
        }
        if (elements > PRINTER_BITMAP_MAX_CONDITIONS)
            elements = PRINTER_BITMAP_MAX_CONDITIONS;
        if (elements > 0) {
            record.conditions = new (std::nothrow) PrinterBitmapCondition[elements];
            if (record.conditions == nullptr)
                elements = 0;
        }
        uint32_t taken = 0;
        for (long c = 0; c < childCount && taken < elements; ++c) {
            ComHolder<IXMLDOMNode> child;
            DOMNodeType type = NODE_INVALID;
            if (children->get_item(c, child.Out()) != S_OK || !child || child->get_nodeType(&type) != S_OK ||
                type != NODE_ELEMENT)
                continue;
            PrinterBitmapCondition& condition = record.conditions[taken++];
            wchar_t featureId[kIdChars + 1];
            wchar_t optionId[kIdChars + 1];
            GetAttributeValue(child.Get(), L"featureid", featureId, kIdChars + 1);
            GetAttributeValue(child.Get(), L"optionid", optionId, kIdChars + 1);
            GetFeatureOptionNames(featureId, optionId, condition.feature, condition.option);
        }
        record.conditionCount = taken;
        ++filled;
    }
    return filled;
}

void CXMLParser::GetFeatureOptionNames(const wchar_t* featureId, const wchar_t* optionId, wchar_t* featureName,
                                       wchar_t* optionName)
{
    if (featureName != nullptr)
        featureName[0] = L'\0';
    if (optionName != nullptr)
        optionName[0] = L'\0';
    if (featureName == nullptr || optionName == nullptr || featureId == nullptr || optionId == nullptr ||
        !m_loaded || m_document == nullptr)
        return;
    // An id with a quote cannot be put into the query's literal; such an id names nothing.
    if (std::wcschr(featureId, L'"') != nullptr || std::wcschr(optionId, L'"') != nullptr)
        return;

    wchar_t featureQuery[kQueryChars];
    wchar_t optionQuery[kQueryChars];
    if (FormatToBuffer(featureQuery, kQueryChars, L"//bitmapinfo//featuregroup//feature[@id=\"%s\"]//@name",
                       featureId) == 0 ||
        FormatToBuffer(optionQuery, kQueryChars,
                       L"//bitmapinfo//featuregroup//feature[@id=\"%s\"]//option[@id=\"%s\"]//@name", featureId,
                       optionId) == 0)
        return;

    BstrHolder feature;
    BstrHolder option;
    if (!SelectSingleText(m_document, featureQuery, feature) || !SelectSingleText(m_document, optionQuery, option))
        return;
    CopyBounded(featureName, PRINTER_BITMAP_NAME_CHARS, feature.Text());
    CopyBounded(optionName, PRINTER_BITMAP_NAME_CHARS, option.Text());
}

int CXMLParser::GetBitmapIdByName(const wchar_t* name)
{
    if (!m_loaded || m_document == nullptr)
        return 0;
    if (name == nullptr)
        return -1;
    BstrHolder query(L"//oemdllfeatures//bitmapinfo//OEMbitmaps//bmp");
    ComHolder<IXMLDOMNodeList> nodes;
    if (query.Get() == nullptr || m_document->selectNodes(query.Get(), nodes.Out()) != S_OK || !nodes)
        return -1;
    long count = 0;
    nodes->get_length(&count);
    for (long i = 0; i < count; ++i) {
        ComHolder<IXMLDOMNode> node;
        if (nodes->get_item(i, node.Out()) != S_OK || !node)
            continue;
        wchar_t nodeName[kBitmapNameChars];
        GetAttributeValue(node.Get(), L"name", nodeName, kBitmapNameChars);
        if (std::wcscmp(nodeName, name) != 0)
            continue;
        wchar_t id[kBitmapNameChars];
        GetAttributeValue(node.Get(), L"id", id, kBitmapNameChars);
        return _wtoi(id);
    }
    return -1;
}
