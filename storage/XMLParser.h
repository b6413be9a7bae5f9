// Reader of the "Res.xml" printer-picture description beside the OEM module: bitmap layers, the
// display names of features and options, and named bitmaps. A thin layer over the MSXML DOM.
#pragma once

#include <windows.h>
#include "storage/PrinterBitmap.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

class CXMLParser {
public:
    // Loads the file (nothing for a null path). IsLoaded tells whether it worked.
    explicit CXMLParser(const wchar_t* path);
    virtual ~CXMLParser();

    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;

    bool IsLoaded() const noexcept { return m_loaded != 0; }

    // Copies the text of the node's first attribute named exactly name into out (at most
    // maxChars characters with the terminator); out is "" when there is none. Returns whether
    // one matched.
    static bool GetAttributeValue(IXMLDOMNode* node, const wchar_t* name, wchar_t* out, int maxChars);

    // Null records: returns the number of "bmp" layers. Otherwise fills at most capacity records
    // in document order and returns how many it filled; each record's condition array (new[],
    // the caller frees it) holds the display names of the layer's selections.
    int GetBitmapTable(PrinterBitmapRecord* records, int capacity);

    // Display names of a feature and of one of its options, each into 129 characters; both ""
    // unless both are found.
    void GetFeatureOptionNames(const wchar_t* featureId, const wchar_t* optionId, wchar_t* featureName,
                               wchar_t* optionName);

    // Id of the named OEM bitmap (case-sensitive name); -1 when none has that name, 0 when no
    // document is loaded.
    int GetBitmapIdByName(const wchar_t* name);

private:
    IXMLDOMDocument* m_document = nullptr;
    int m_loaded = 0;
    bool m_uninitialize = false;  // this object's CoInitializeEx must be balanced
};
