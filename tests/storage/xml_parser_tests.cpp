// The printer-picture description reader: bitmap layers and their defaults, selections and their
// display names, named bitmaps, and files that do not load.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "storage/XMLParser.h"

namespace {

// Writes an XML text into a file of the temporary folder and removes it afterwards.
class TempXml {
public:
    TempXml(const wchar_t* name, const std::string& text)
    {
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        m_path = std::wstring(folder) + name;
        FILE* file = _wfopen(m_path.c_str(), L"wb");
        if (file != nullptr) {
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
        }
    }
    ~TempXml() { DeleteFileW(m_path.c_str()); }
    const wchar_t* Path() const { return m_path.c_str(); }

private:
    std::wstring m_path;
};

// Reads every layer of a parser; the table frees the condition arrays.
void ReadTable(CXMLParser& parser, PrinterBitmapTable& table)
{
    const int count = parser.GetBitmapTable(nullptr, 0);
    std::vector<PrinterBitmapRecord> records(static_cast<size_t>(count > 0 ? count : 0));
    const int filled = count > 0 ? parser.GetBitmapTable(records.data(), count) : 0;
    for (int i = 0; i < filled; ++i)
        table.Adopt(records[static_cast<size_t>(i)]);
}

std::string Document(const std::string& bmps, const std::string& features = "", const std::string& named = "")
{
    return "<?xml version=\"1.0\"?>\n<oemdllfeatures><bitmapinfo>\n<featuregroup>" + features +
           "</featuregroup>\n<bmpgroup>" + bmps + "</bmpgroup>\n<OEMbitmaps>" + named +
           "</OEMbitmaps></bitmapinfo></oemdllfeatures>\n";
}

const std::string kFeatures =
    "<feature id=\"f1\" name=\"*Duplex\"><option id=\"o1\" name=\"DuplexNoTumble\"/>"
    "<option id=\"o2\" name=\"None\"/></feature>"
    "<feature id=\"f2\" name=\"*InputSlot\"><option id=\"t2\" name=\"Tray2\"/></feature>";

struct LayerCase {
    const char* label;
    const char* element;
    int resourceId, maskId, x, y;
};

const LayerCase kLayerCases[] = {
    {"all attributes", "<bmp resid=\"7\" maskid=\"9\" xoffset=\"11\" yoffset=\"-12\"/>", 7, 9, 11, -12},
    {"no maskid: mask = resid", "<bmp resid=\"5\" xoffset=\"1\"/>", 5, 5, 1, 0},
    {"maskid 0: mask = resid", "<bmp resid=\"6\" maskid=\"0\"/>", 6, 6, 0, 0},
    {"no attributes", "<bmp/>", 0, 0, 0, 0},
    {"not numbers read as 0", "<bmp resid=\"x1\" xoffset=\"abc\" yoffset=\"12px\"/>", 0, 0, 0, 12},
    {"names are exact: ResID is not resid", "<bmp ResID=\"3\" resid=\"4\"/>", 4, 4, 0, 0},
};

TEST(XMLParserTest, LayerAttributesAndMaskDefault)
{
    for (const auto& c : kLayerCases) {
        SCOPED_TRACE(c.label);
        TempXml file(L"tolva-xml-layer.xml", Document(c.element));
        CXMLParser parser(file.Path());
        ASSERT_TRUE(parser.IsLoaded());
        PrinterBitmapTable table;
        ReadTable(parser, table);
        ASSERT_EQ(table.Count(), 1u);
        const PrinterBitmapRecord& record = table[0];
        EXPECT_EQ(record.resourceId, c.resourceId);
        EXPECT_EQ(record.maskId, c.maskId);
        EXPECT_EQ(record.xOffset, c.x);
        EXPECT_EQ(record.yOffset, c.y);
        EXPECT_EQ(record.state, -1);
        EXPECT_EQ(record.reserved, 0);
        EXPECT_STREQ(record.feature, L"");
        EXPECT_STREQ(record.option, L"");
        EXPECT_EQ(record.conditions, nullptr);
        EXPECT_EQ(record.conditionCount, 0u);
    }
}

TEST(XMLParserTest, SelectionsAreElementChildrenWithDisplayNames)
{
    TempXml file(L"tolva-xml-sel.xml",
                 Document("<bmp resid=\"1\">\n  text between <!-- a comment -->\n"
                          "  <sel featureid=\"f1\" optionid=\"o1\"/> more text\n"
                          "  <sel featureid=\"f2\" optionid=\"t2\"/>\n</bmp>"
                          "<bmp resid=\"2\"><sel featureid=\"f1\" optionid=\"missing\"/>"
                          "<sel featureid=\"nofeature\" optionid=\"o1\"/><sel/></bmp>",
                          kFeatures));
    CXMLParser parser(file.Path());
    ASSERT_TRUE(parser.IsLoaded());
    PrinterBitmapTable table;
    ReadTable(parser, table);
    ASSERT_EQ(table.Count(), 2u);

    ASSERT_EQ(table[0].conditionCount, 2u);
    ASSERT_NE(table[0].conditions, nullptr);
    EXPECT_STREQ(table[0].conditions[0].feature, L"*Duplex");
    EXPECT_STREQ(table[0].conditions[0].option, L"DuplexNoTumble");
    EXPECT_STREQ(table[0].conditions[1].feature, L"*InputSlot");
    EXPECT_STREQ(table[0].conditions[1].option, L"Tray2");

    // A known feature with an unknown option, an unknown feature, and no ids: all empty.
    ASSERT_EQ(table[1].conditionCount, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(table[1].conditions[i].feature, L"") << "selection " << i;
        EXPECT_STREQ(table[1].conditions[i].option, L"") << "selection " << i;
    }
}

struct NameCase {
    const char* label;
    std::wstring feature, option;
    const wchar_t* featureName;
    const wchar_t* optionName;
};

TEST(XMLParserTest, FeatureOptionNamesAreFoundOnlyTogether)
{
    TempXml file(L"tolva-xml-names.xml", Document("", kFeatures));
    CXMLParser parser(file.Path());
    ASSERT_TRUE(parser.IsLoaded());
    const NameCase cases[] = {
        {"both known", L"f1", L"o2", L"*Duplex", L"None"},
        {"option of another feature", L"f1", L"t2", L"", L""},
        {"unknown option", L"f1", L"zz", L"", L""},
        {"unknown feature", L"zz", L"o1", L"", L""},
        {"quote in an id cannot break the query", L"f1\"] | //*[@id=\"o1", L"o1", L"", L""},
        {"id too long for the query", std::wstring(300, L'f'), L"o1", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        wchar_t feature[PRINTER_BITMAP_NAME_CHARS] = L"junk";
        wchar_t option[PRINTER_BITMAP_NAME_CHARS] = L"junk";
        parser.GetFeatureOptionNames(c.feature.c_str(), c.option.c_str(), feature, option);
        EXPECT_STREQ(feature, c.featureName);
        EXPECT_STREQ(option, c.optionName);
    }
}

TEST(XMLParserTest, LongDisplayNamesAreCutToTheRecord)
{
    const std::string longName(300, 'N');
    TempXml file(L"tolva-xml-long.xml",
                 Document("<bmp resid=\"1\"><sel featureid=\"f\" optionid=\"o\"/></bmp>",
                          "<feature id=\"f\" name=\"" + longName + "\"><option id=\"o\" name=\"" + longName +
                              "\"/></feature>"));
    CXMLParser parser(file.Path());
    PrinterBitmapTable table;
    ReadTable(parser, table);
    ASSERT_EQ(table.Count(), 1u);
    ASSERT_EQ(table[0].conditionCount, 1u);
    EXPECT_EQ(std::wstring(table[0].conditions[0].feature), std::wstring(128, L'N'));
    EXPECT_EQ(std::wstring(table[0].conditions[0].option), std::wstring(128, L'N'));
}

TEST(XMLParserTest, FillStopsAtTheGivenCapacity)
{
    TempXml file(L"tolva-xml-cap.xml", Document("<bmp resid=\"1\"/><bmp resid=\"2\"/><bmp resid=\"3\"/>"));
    CXMLParser parser(file.Path());
    EXPECT_EQ(parser.GetBitmapTable(nullptr, 0), 3);
    PrinterBitmapRecord records[3] = {};
    records[2].resourceId = 99;
    EXPECT_EQ(parser.GetBitmapTable(records, 2), 2);
    EXPECT_EQ(records[0].resourceId, 1);
    EXPECT_EQ(records[1].resourceId, 2);
    EXPECT_EQ(records[2].resourceId, 99);
    EXPECT_EQ(parser.GetBitmapTable(records, 0), 0);
}

TEST(XMLParserTest, BitmapIdByNameIsCaseSensitive)
{
    TempXml file(L"tolva-xml-named.xml",
                 Document("", "", "<bmp name=\"Printer\" id=\"301\"/><bmp name=\"printer\" id=\"302\"/>"
                                  "<bmp name=\"Printer\" id=\"303\"/><bmp name=\"NoId\"/>"));
    CXMLParser parser(file.Path());
    ASSERT_TRUE(parser.IsLoaded());
    const struct {
        const wchar_t* name;
        int id;
    } cases[] = {{L"Printer", 301}, {L"printer", 302}, {L"PRINTER", -1}, {L"NoId", 0}, {L"", -1}, {nullptr, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? std::string(c.name, c.name + wcslen(c.name)) : std::string("(null)"));
        EXPECT_EQ(parser.GetBitmapIdByName(c.name), c.id);
    }
}

TEST(XMLParserTest, FileThatDoesNotLoadFindsNothing)
{
    TempXml broken(L"tolva-xml-broken.xml", "<oemdllfeatures><bitmapinfo><bmpgroup><bmp resid=\"1\">");
    ::testing::internal::CaptureStdout();
    CXMLParser parser(broken.Path());
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(parser.IsLoaded());
    EXPECT_EQ(printed.rfind("Failed to load DOM. ", 0), 0u) << printed;
    EXPECT_EQ(parser.GetBitmapTable(nullptr, 0), 0);
    EXPECT_EQ(parser.GetBitmapIdByName(L"Printer"), 0);
    wchar_t feature[PRINTER_BITMAP_NAME_CHARS] = L"junk";
    wchar_t option[PRINTER_BITMAP_NAME_CHARS] = L"junk";
    parser.GetFeatureOptionNames(L"f1", L"o1", feature, option);
    EXPECT_STREQ(feature, L"");
    EXPECT_STREQ(option, L"");

    CXMLParser missing(L"Z:\\no\\such\\folder\\nothing.xml");
    EXPECT_FALSE(missing.IsLoaded());
    CXMLParser none(nullptr);
    EXPECT_FALSE(none.IsLoaded());
    EXPECT_EQ(none.GetBitmapTable(nullptr, 0), 0);
}

TEST(XMLParserTest, AttributeValueIsBoundedAndEmptyWhenAbsent)
{
    wchar_t out[8] = L"junk";
    EXPECT_FALSE(CXMLParser::GetAttributeValue(nullptr, L"resid", out, 8));
    EXPECT_STREQ(out, L"");
    EXPECT_FALSE(CXMLParser::GetAttributeValue(nullptr, L"resid", nullptr, 8));
}

} // namespace
