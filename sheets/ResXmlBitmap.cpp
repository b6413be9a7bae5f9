// Named bitmaps of the data file's "Res.xml".
#include "sheets/ResXmlBitmap.h"

#include <cwchar>

#include "storage/XMLParser.h"

int GetBitmapIdFromResXml(const wchar_t* dataFile, const wchar_t* bitmapName)
{
    if (!dataFile || !bitmapName) return -1;
    wchar_t path[MAX_PATH];
    // The extension of the file name only: a dot in a folder name ("john.doe") is no extension.
    const wchar_t* name = dataFile;
    for (const wchar_t* p = dataFile; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
    const wchar_t* dot = std::wcsrchr(name, L'.');
    size_t stem = dot ? static_cast<size_t>(dot - dataFile) : std::wcslen(dataFile);
    constexpr wchar_t kSuffix[] = L"Res.xml";
    if (stem + std::wcslen(kSuffix) + 1 > MAX_PATH) return 0;
    std::wmemcpy(path, dataFile, stem);
    std::wcscpy(path + stem, kSuffix);
    CXMLParser parser(path);
    return parser.GetBitmapIdByName(bitmapName);
}

WORD GetAboutPictureId(const wchar_t* dataFile)
{
    // A missing or unreadable file gives 0, which is no picture of the module either.
    int id = GetBitmapIdFromResXml(dataFile, L"IDB_ABOUT_FD");
    return id > 0 ? static_cast<WORD>(id) : kAboutPictureDefault;
}
