// The result records and the block-allocated record list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serverif/QVRecords.h"

namespace {

// Counts live records so a test can see which ones were deleted.
struct CountedRecord : QVObject {
    explicit CountedRecord(int* live) : m_live(live) { ++*m_live; }
    ~CountedRecord() override { --*m_live; }
    int* m_live;
};

TEST(QVObList, TwentyFiveAppendsAtBlockSizeTenUseThreeBlocksAndRemovingAllReturnsThem)
{
    QVObList list(10);
    std::vector<QVKeyVal> records(25);
    std::vector<QVObList::Node*> nodes;
    for (auto& record : records)
        nodes.push_back(list.AddTail(&record));
    EXPECT_EQ(list.GetCount(), 25);
    EXPECT_EQ(list.GetBlockCount(), 3);

    // Iteration gives the records in order.
    QVObList::Position position = list.GetHeadPosition();
    for (auto& record : records)
        EXPECT_EQ(list.GetNext(position), &record);
    EXPECT_EQ(position, nullptr);

    // Remove from the middle, the tail and the head alike; the links stay whole.
    list.RemoveAt(nodes[12]);
    list.RemoveAt(nodes[24]);
    list.RemoveAt(nodes[0]);
    position = list.GetHeadPosition();
    int seen = 0;
    while (position) {
        QVObject* data = list.GetNext(position);
        EXPECT_NE(data, &records[0]);
        EXPECT_NE(data, &records[12]);
        EXPECT_NE(data, &records[24]);
        ++seen;
    }
    EXPECT_EQ(seen, 22);
    for (size_t i = 1; i < 24; ++i)
        if (i != 12)
            list.RemoveAt(nodes[i]);

    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetBlockCount(), 0);
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
}

TEST(QVObList, FreedNodesAreReusedBeforeANewBlock)
{
    QVObList list(10);
    QVKeyVal a, b;
    for (int i = 0; i < 10; ++i)
        list.AddTail(&a);
    list.RemoveAt(list.GetHeadPosition());
    list.AddTail(&b);
    EXPECT_EQ(list.GetBlockCount(), 1);
    EXPECT_EQ(list.GetCount(), 10);
    list.RemoveAll();
    EXPECT_EQ(list.GetBlockCount(), 0);
}

TEST(QVObList, DeleteAllDeletesEveryRecordAndNothingOnAnEmptyList)
{
    int live = 0;
    QVObList list(10);
    list.DeleteAll();
    EXPECT_EQ(list.GetCount(), 0);
    for (int i = 0; i < 13; ++i)
        list.AddTail(new CountedRecord(&live));
    list.AddTail(nullptr);
    EXPECT_EQ(live, 13);
    list.DeleteAll();
    EXPECT_EQ(live, 0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetBlockCount(), 0);
}

TEST(QVObList, BlockSizeZeroAllocatesNothing)
{
    QVObList list(0);
    QVKeyVal record;
    EXPECT_EQ(list.AddTail(&record), nullptr);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(QVKeyVal, FieldsStartEmptyAndAreCutToTheirWidth)
{
    QVKeyVal empty;
    EXPECT_STREQ(empty.Key(), L"");
    EXPECT_STREQ(empty.Value(), L"");
    QVEmailNotification mail;
    EXPECT_EQ(mail.IsReady(), 0);

    const std::wstring longKey(200, L'k');
    const std::wstring longValue(300, L'v');
    QVKeyVal record(longKey.c_str(), longValue.c_str());
    EXPECT_EQ(std::wstring(record.Key()), longKey.substr(0, 127));
    EXPECT_EQ(std::wstring(record.Value()), longValue.substr(0, 259));

    record.SetKey(nullptr);
    EXPECT_STREQ(record.Key(), L"");
}

TEST(QVKeyVal, ASurrogatePairAcrossTheCutIsDroppedWhole)
{
    struct Case {
        size_t pairAt;  // index of the pair's first half in the source
        size_t kept;
    } cases[] = {
        {126, 126},  // pair at characters 127-128: cut would split it
        {125, 127},  // pair at 126-127: fits
        {127, 127},  // pair starts past the cut
    };
    for (const Case& c : cases) {
        std::wstring key(200, L'a');
        key[c.pairAt] = 0xD83D;
        key[c.pairAt + 1] = 0xDE00;
        QVKeyVal record(key.c_str(), L"");
        EXPECT_EQ(std::wstring(record.Key()), key.substr(0, c.kept)) << "pair at " << c.pairAt;
    }
    // A pair that ends exactly at the field's end is kept.
    std::wstring exact(125, L'a');
    exact += L"\xD83D\xDE00";
    EXPECT_EQ(std::wstring(QVKeyVal(exact.c_str(), L"").Key()), exact);
}

}  // namespace
