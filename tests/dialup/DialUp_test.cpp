// Listing, checking, dialling and hanging up through a fake dial-up layer: the grown
// buffers, the failure paths, the exact name match and the protocol entries in their order.
#include "dialup/DialUp.h"

#include "framework/StringTable.h"
#include "support/FakeRasLayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

using namespace kairelon;
using kairelon::test::FakeRasLoader;
using kairelon::test::FakeRasState;

namespace {

using Entries = std::vector<std::pair<std::string, int>>;

class DialUp : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeRasApi(api, available, Sink(), FakeRasLoader(state));
        ASSERT_TRUE(available);
        protocol.clear(); // the start-up entries are the binding's own test
    }

    ProtocolSink Sink() {
        return [this](const std::string& text, int kind) { protocol.emplace_back(text, kind); };
    }

    bool Connect(const std::string& name, const std::string& user = "user",
                 const std::string& password = "secret") {
        return RasConnect(*api, Sink(), name, user, errorText, handle, dialledByUs, password);
    }

    std::shared_ptr<FakeRasState> state = std::make_shared<FakeRasState>();
    std::unique_ptr<CRasApi> api;
    bool available = false;
    Entries protocol;
    std::string errorText = "untouched";
    HRASCONN handle = 1234;
    bool dialledByUs = true;
};

std::vector<std::string> Names(int n) {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.push_back("Entry " + std::to_string(i));
    }
    return names;
}

} // namespace

TEST_F(DialUp, MoreEntriesThanOneRecordAreListedWithTheGrownBuffer) {
    state->entries = Names(5);
    std::vector<std::string> items{"stale"};
    EXPECT_EQ(FillRasEntries(*api, items), 5);
    EXPECT_EQ(items, Names(5));
    EXPECT_EQ(state->enumEntriesCb, (std::vector<DWORD>{264, 5 * 264}));
    EXPECT_TRUE(protocol.empty());
}

TEST_F(DialUp, TheEnumerationIsCalledTwiceEvenWhenTheFirstCallSucceeds) {
    state->entries = {"Only"};
    std::vector<std::string> items;
    EXPECT_EQ(FillRasEntries(*api, items), 1);
    EXPECT_EQ(items, std::vector<std::string>{"Only"});
    EXPECT_EQ(state->enumEntriesCb.size(), 2u);

    state->entries.clear();
    state->enumEntriesCb.clear();
    EXPECT_EQ(FillRasEntries(*api, items), 0);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(state->enumEntriesCb.size(), 2u);
}

TEST_F(DialUp, EnumerationFailuresLeaveTheListEmpty) {
    state->entries = Names(3);
    std::vector<std::string> items{"stale"};
    state->enumEntriesStatus = {ERROR_BUFFER_TOO_SMALL, 621}; // second call fails
    EXPECT_EQ(FillRasEntries(*api, items), 0);
    EXPECT_TRUE(items.empty());

    // A first call that fails otherwise keeps the one-record buffer; the second call decides.
    state->enumEntriesStatus = {621};
    state->enumEntriesCb.clear();
    EXPECT_EQ(FillRasEntries(*api, items), 0) << "three entries do not fit one record";
    EXPECT_EQ(state->enumEntriesCb, (std::vector<DWORD>{264, 264}));
    EXPECT_TRUE(items.empty());

    state->entries = {"Fits"};
    state->enumEntriesStatus = {621};
    EXPECT_EQ(FillRasEntries(*api, items), 1);
    EXPECT_EQ(items, std::vector<std::string>{"Fits"});
}

TEST_F(DialUp, LongNamesAreCutTo256BytesWithoutSplittingACharacter) {
    const std::string ascii(300, 'a');
    std::string umlauts;
    for (int i = 0; i < 150; ++i) {
        umlauts += "\xC3\xA4"; // two bytes each: 128 fit, the 129th would cross byte 256
    }
    umlauts = "x" + umlauts;
    state->entries = {ascii, umlauts};
    std::vector<std::string> items;
    ASSERT_EQ(FillRasEntries(*api, items), 2);
    EXPECT_EQ(items[0], std::string(256, 'a'));
    EXPECT_EQ(items[1].size(), 255u);
    EXPECT_EQ(items[1], umlauts.substr(0, 255));
}

TEST_F(DialUp, ConnectionNamesMatchExactlyAndCaseSensitively) {
    state->connections = {
        {11, "office", "ppp", ""}, {12, "Home VPN", "vpn", ""}, {13, "Provider", "ppp", ""}};
    EXPECT_TRUE(IsRasConnected(*api, "Provider"));
    EXPECT_EQ(state->enumConnectionsCb, (std::vector<DWORD>{412, 3 * 412}));
    EXPECT_FALSE(IsRasConnected(*api, "provider"));
    EXPECT_FALSE(IsRasConnected(*api, "Office"));
    EXPECT_FALSE(IsRasConnected(*api, "Provider "));
    EXPECT_FALSE(IsRasConnected(*api, ""));
}

TEST_F(DialUp, AConnectionEnumerationFailureCountsAsNotConnected) {
    state->connections = {{11, "Provider", "ppp", ""}};
    state->enumConnectionsStatus = {SUCCESS, 668};
    EXPECT_FALSE(IsRasConnected(*api, "Provider"));
}

TEST_F(DialUp, AlreadyConnectedMeansNoDialAndNoHangUp) {
    state->connections = {{11, "Provider", "ppp", ""}};
    EXPECT_TRUE(Connect("Provider"));
    EXPECT_EQ(protocol, (Entries{{LoadStr(1025), ekInformation}}));
    EXPECT_FALSE(dialledByUs);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(errorText, "untouched");
    EXPECT_EQ(std::count(state->calls.begin(), state->calls.end(), "RasDialA"), 0);

    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());
    EXPECT_TRUE(state->hungUp.empty());
    EXPECT_EQ(protocol.size(), 1u);
    EXPECT_EQ(state->connections.size(), 1u) << "the connection stays up";
}

TEST_F(DialUp, ACaseVariantOfAnActiveConnectionIsDialled) {
    state->connections = {{11, "provider", "ppp", ""}};
    EXPECT_TRUE(Connect("Provider"));
    EXPECT_EQ(protocol, (Entries{{LoadStr(1026), ekInformation}}));
    EXPECT_TRUE(dialledByUs);
}

TEST_F(DialUp, ASuccessfulDialIsHungUpWithItsEntriesInOrder) {
    state->dialHandle = 42;
    EXPECT_TRUE(Connect("Provider", "alice", "pw"));
    EXPECT_TRUE(dialledByUs);
    EXPECT_EQ(handle, 42u);
    EXPECT_EQ(errorText, "untouched");
    EXPECT_EQ(state->dialArgs, std::vector<std::string>{"- - 0 -"});
    const RASDIALPARAMS& p = state->lastDial;
    EXPECT_EQ(p.dwSize, 1052u);
    EXPECT_STREQ(p.szEntryName, "Provider");
    EXPECT_STREQ(p.szUserName, "alice");
    EXPECT_STREQ(p.szPassword, "pw");
    EXPECT_STREQ(p.szPhoneNumber, "");
    EXPECT_STREQ(p.szCallbackNumber, "");
    EXPECT_STREQ(p.szDomain, "");
    // Every byte after a text's end is zero.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&p);
    int nonZero = 0;
    for (std::size_t i = sizeof(DWORD); i < sizeof p; ++i) {
        nonZero += bytes[i] != 0;
    }
    EXPECT_EQ(nonZero, 8 + 5 + 2);

    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());
    EXPECT_EQ(state->hungUp, std::vector<HRASCONN>{42});
    EXPECT_EQ(protocol, (Entries{{LoadStr(1026), ekInformation}, {LoadStr(1028), ekInformation}}));
}

TEST_F(DialUp, HangUpNeedsTheDialledFlagAndAnAvailableLayer) {
    HangUpDialledConnection(api.get(), false, true, 42, Sink());
    HangUpDialledConnection(api.get(), true, false, 42, Sink());
    HangUpDialledConnection(nullptr, true, true, 42, Sink());
    EXPECT_TRUE(state->hungUp.empty());
    EXPECT_TRUE(protocol.empty());
}

TEST_F(DialUp, AFailedDialReportsTheLayersErrorText) {
    state->dialStatus = ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    state->dialHandle = 0;
    EXPECT_FALSE(Connect("Nowhere"));
    EXPECT_FALSE(dialledByUs);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(errorText, RasErrorText(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
    EXPECT_FALSE(errorText.empty());
    EXPECT_EQ(protocol, (Entries{{LoadStr(1027), ekError}}));
    EXPECT_EQ(state->errorStringSizes, std::vector<DWORD>{254});
    EXPECT_TRUE(state->hungUp.empty());
}

TEST_F(DialUp, AHandleLeftByAFailedDialIsReleasedWithoutEntry1028) {
    state->dialStatus = ERROR_NO_CARRIER;
    state->dialHandle = 77;
    EXPECT_FALSE(Connect("Provider"));
    EXPECT_EQ(handle, 77u);
    EXPECT_FALSE(dialledByUs);
    EXPECT_EQ(errorText, RasErrorText(ERROR_NO_CARRIER));
    EXPECT_EQ(state->hungUp, std::vector<HRASCONN>{77});
    HangUpDialledConnection(api.get(), available, dialledByUs, handle, Sink());
    EXPECT_EQ(state->hungUp.size(), 1u);
    EXPECT_EQ(protocol, (Entries{{LoadStr(1027), ekError}}));
}

TEST_F(DialUp, AnUnknownErrorNumberStillHasAText) {
    state->dialStatus = 4242;
    state->dialHandle = 0;
    EXPECT_FALSE(Connect("Provider"));
    EXPECT_NE(errorText.find("4242"), std::string::npos) << errorText;
}

TEST_F(DialUp, LongCredentialsAreCutToTheRecord) {
    EXPECT_TRUE(Connect(std::string(400, 'n'), std::string(300, 'u'), std::string(257, 'p')));
    EXPECT_EQ(RasString(state->lastDial.szEntryName, 257), std::string(256, 'n'));
    EXPECT_EQ(RasString(state->lastDial.szUserName, 257), std::string(256, 'u'));
    EXPECT_EQ(RasString(state->lastDial.szPassword, 257), std::string(256, 'p'));
}

TEST(RasLayerRecords, EnumerationContract) {
    RASENTRYNAME names[2] = {};
    DWORD cb = sizeof names;
    DWORD count = 9;
    EXPECT_EQ(WriteRasEntryNames({"a"}, names, &cb, &count), ERROR_INVALID_SIZE)
        << "size field not set";
    names[0].dwSize = 263;
    EXPECT_EQ(WriteRasEntryNames({"a"}, names, &cb, &count), ERROR_INVALID_SIZE);
    names[0].dwSize = 264;
    EXPECT_EQ(WriteRasEntryNames({"a"}, nullptr, &cb, &count), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WriteRasEntryNames({"a"}, names, nullptr, &count), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WriteRasEntryNames({"a", "b", "c"}, names, &cb, &count), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(cb, 3u * 264);
    EXPECT_EQ(count, 3u);
    EXPECT_STREQ(names[0].szEntryName, "") << "nothing written on 603";
    cb = sizeof names;
    EXPECT_EQ(WriteRasEntryNames({"a", "b"}, names, &cb, &count), SUCCESS);
    EXPECT_EQ(cb, 2u * 264);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(names[1].szEntryName, "b");
    EXPECT_EQ(names[1].dwSize, 264u);

    RASCONN conn{};
    conn.dwSize = 412;
    cb = sizeof conn;
    EXPECT_EQ(WriteRasConnections({{5, "x", std::string(40, 't'), "dev"}}, &conn, &cb, &count),
              SUCCESS);
    EXPECT_EQ(conn.hrasconn, 5u);
    EXPECT_EQ(std::string(conn.szDeviceType), std::string(16, 't'));
    EXPECT_STREQ(conn.szDeviceName, "dev");
}

TEST(RasLayerRecords, ErrorStrings) {
    char buffer[255];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(RasErrorStringInto(ERROR_LINE_BUSY, buffer, 5), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[0], 'x') << "buffer untouched when the text does not fit";
    EXPECT_EQ(RasErrorStringInto(ERROR_LINE_BUSY, nullptr, 254), ERROR_INVALID_PARAMETER);
    // Every number the layer uses has its own text, and each fits the dial's 254 bytes.
    const UINT used[] = {5,   6,   87,  603, 608, 619, 623, 628, 629, 630, 631, 632,
                         633, 638, 676, 678, 679, 680, 691, 703, 711, 716, 734};
    std::set<std::string> texts;
    for (UINT code : used) {
        ASSERT_EQ(RasErrorStringInto(code, buffer, 254), SUCCESS) << code;
        texts.insert(buffer);
        EXPECT_EQ(std::string(buffer).find("Unbekannt"), std::string::npos) << code;
    }
    EXPECT_EQ(texts.size(), std::size(used));
    EXPECT_EQ(RasErrorText(1), "Unbekannter Fehler 1 der Wählverbindung.");
}
