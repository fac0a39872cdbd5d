#include "diag/ProtocolEntry.h"
#include "diag/ProtocolList.h"

#include <gtest/gtest.h>

using namespace kairelon;

TEST(ProtocolList, KindsMapToTheirIcons) {
    EXPECT_EQ(TProtocolList::ImageIndexForKind(ekInformation), 1);
    EXPECT_EQ(TProtocolList::ImageIndexForKind(ekWarning), 0);
    EXPECT_EQ(TProtocolList::ImageIndexForKind(ekError), 3);
    EXPECT_EQ(TProtocolList::ImageIndexForKind(0), 2);
    EXPECT_EQ(TProtocolList::ImageIndexForKind(4), 2);
    EXPECT_EQ(TProtocolList::ImageIndexForKind(-1), 2);
}

TEST(ProtocolList, KeepsOrderAndClearsAfter250) {
    TProtocolList list;
    for (int i = 0; i < 251; ++i) {
        list.AddProtocolEntry("entry " + std::to_string(i), ekInformation);
    }
    ASSERT_EQ(list.Items().size(), 251u); // 251 fit: the limit is "more than 250"
    EXPECT_EQ(list.Items().front().text, "entry 0");
    EXPECT_EQ(list.Items().back().text, "entry 250");

    list.AddProtocolEntry("after the limit", ekError);
    ASSERT_EQ(list.Items().size(), 1u);
    EXPECT_EQ(list.Items()[0].text, "after the limit");
    EXPECT_EQ(list.Items()[0].imageIndex, 3);
}

TEST(ProtocolList, ListenerSeesEveryEntryAndTheClearing) {
    TProtocolList list;
    std::vector<std::string> seen;
    list.SetListener([&](const ProtocolItem* item) {
        seen.push_back(item ? item->text + "/" + std::to_string(item->kind) : "<cleared>");
    });
    list.AddProtocolEntry("a", ekWarning);
    list.DeleteAll();
    list.AddProtocolEntry("b", ekInformation);
    EXPECT_EQ(seen, (std::vector<std::string>{"a/2", "<cleared>", "b/1"}));
    EXPECT_EQ(list.Items().size(), 1u);
}
