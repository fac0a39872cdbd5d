// The run-time binding of the dial-up layer: its start-up entries, the availability flag, the
// forwarders and the release of the layer.
#include "dialup/RasApi.h"

#include "framework/StringTable.h"
#include "support/FakeRasLayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

using namespace kairelon;
using kairelon::test::FakeRasLoader;
using kairelon::test::FakeRasState;
using kairelon::test::MissingRasLoader;

namespace {

using Entries = std::vector<std::pair<std::string, int>>;

struct Protocol {
    Entries entries;
    ProtocolSink Sink() {
        return [this](const std::string& text, int kind) { entries.emplace_back(text, kind); };
    }
};

const char* const kProcs[] = {"RasDialA", "RasEnumConnectionsA", "RasEnumEntriesA",
                              "RasGetErrorStringA", "RasHangUpA"};

} // namespace

TEST(RasApiStartUp, WithoutTheLayerOnlyWarns1070AndStaysUnavailable) {
    Protocol protocol;
    std::unique_ptr<CRasApi> api;
    bool available = true;
    InitializeRasApi(api, available, protocol.Sink(), MissingRasLoader());
    ASSERT_NE(api, nullptr);
    EXPECT_FALSE(available);
    EXPECT_FALSE(api->Loaded());
    EXPECT_EQ(protocol.entries, (Entries{{LoadStr(1070), ekWarning}}));
    api.reset(); // destroying a binding that never loaded frees nothing and does not fail
}

TEST(RasApiStartUp, EachMissingOperationGives1071Then1069AndKeepsTheLayerLoaded) {
    for (const char* missing : kProcs) {
        SCOPED_TRACE(missing);
        auto state = std::make_shared<FakeRasState>();
        state->missingProcs = {missing};
        Protocol protocol;
        std::unique_ptr<CRasApi> api;
        bool available = true;
        InitializeRasApi(api, available, protocol.Sink(), FakeRasLoader(state));
        EXPECT_FALSE(available);
        EXPECT_EQ(protocol.entries,
                  (Entries{{LoadStr(1071), ekInformation}, {LoadStr(1069), ekWarning}}));
        EXPECT_TRUE(api->Loaded());
        EXPECT_EQ(state->destroyed, 0);
        api.reset();
        EXPECT_EQ(state->destroyed, 1) << "destruction frees the layer";
    }
}

TEST(RasApiStartUp, CompleteLayerGives1071Then1072AndIsAvailable) {
    auto state = std::make_shared<FakeRasState>();
    Protocol protocol;
    std::unique_ptr<CRasApi> api;
    bool available = false;
    InitializeRasApi(api, available, protocol.Sink(), FakeRasLoader(state));
    EXPECT_TRUE(available);
    EXPECT_EQ(protocol.entries,
              (Entries{{LoadStr(1071), ekInformation}, {LoadStr(1072), ekInformation}}));
    EXPECT_TRUE(state->calls.empty()) << "binding calls none of the operations";
}

TEST(RasApiBinding, LoadProcsWithoutALoadedLayerFails) {
    auto state = std::make_shared<FakeRasState>();
    CRasApi api(FakeRasLoader(state));
    EXPECT_FALSE(api.LoadProcs());
    EXPECT_TRUE(api.LoadDll());
    EXPECT_TRUE(api.LoadProcs());
}

TEST(RasApiBinding, ForwardersPassArgumentsAndStatusUnchanged) {
    auto state = std::make_shared<FakeRasState>();
    state->dialStatus = 4711; // not a known number: passed through untranslated
    state->dialHandle = 99;
    state->dialConnects = false;
    CRasApi api(FakeRasLoader(state));
    ASSERT_TRUE(api.LoadDll());
    ASSERT_TRUE(api.LoadProcs());

    RASDIALPARAMS params{};
    params.dwSize = kRasDialParamsSize;
    std::strcpy(params.szEntryName, "Provider");
    HRASCONN conn = 0;
    const int ext = 1;
    const int notifier = 2;
    EXPECT_EQ(api.RasDial(&ext, "book", &params, 5, &notifier, &conn), 4711u);
    EXPECT_EQ(conn, 99u);
    EXPECT_EQ(state->dialArgs.back(), "ext book 5 notifier");

    state->enumEntriesStatus = {621};
    RASENTRYNAME names{};
    names.dwSize = kRasEntryNameSize;
    DWORD cb = sizeof names;
    DWORD count = 0;
    EXPECT_EQ(api.RasEnumEntries(nullptr, nullptr, &names, &cb, &count), 621u);

    state->enumConnectionsStatus = {622};
    RASCONN conns{};
    conns.dwSize = kRasConnSize;
    cb = sizeof conns;
    EXPECT_EQ(api.RasEnumConnections(&conns, &cb, &count), 622u);

    char text[255] = {};
    EXPECT_EQ(api.RasGetErrorString(ERROR_LINE_BUSY, text, 254), 0u);
    EXPECT_EQ(std::string(text), RasErrorText(ERROR_LINE_BUSY));
    EXPECT_EQ(api.RasHangUp(99), 0u);
    EXPECT_EQ(state->hungUp, std::vector<HRASCONN>{99});
}
