// A dial-up layer for tests: phonebook entries, active connections and dial results that a
// test sets, with a log of every call it received. Its state is shared, so a test can still
// change and inspect it after `CRasApi` has taken the layer over.
#pragma once

#include "platform/RasLayer.h"

#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kairelon::test {

struct FakeRasState {
    std::vector<std::string> entries;
    std::vector<RasConnectionInfo> connections;
    std::set<std::string> missingProcs; // operations the layer does not offer

    // Statuses forced on the next calls (front first); an empty queue means the layer answers
    // from its entries and connections.
    std::deque<DWORD> enumEntriesStatus;
    std::deque<DWORD> enumConnectionsStatus;

    DWORD dialStatus = SUCCESS;
    HRASCONN dialHandle = 7;  // handle a dial hands back (also on failure when nonzero)
    bool dialConnects = true; // a successful dial adds the entry to the connections

    // What the layer saw.
    std::vector<std::string> calls;   // operation names in call order
    std::vector<DWORD> enumEntriesCb; // byte counts passed to RasEnumEntriesA
    std::vector<DWORD> enumConnectionsCb;
    std::vector<std::string> dialArgs; // "ext book notifierType notifier" as null/set flags
    RASDIALPARAMS lastDial{};
    std::vector<HRASCONN> hungUp;
    std::vector<DWORD> errorStringSizes;
    int destroyed = 0;
};

class FakeRasLayer : public RasLayer {
public:
    explicit FakeRasLayer(std::shared_ptr<FakeRasState> state) : s_(std::move(state)) {}
    ~FakeRasLayer() override { ++s_->destroyed; }

    bool Offers(std::string_view procName) const override {
        return s_->missingProcs.count(std::string(procName)) == 0;
    }

    DWORD RasDialA(const void* ext, const char* book, const RASDIALPARAMS* params,
                   DWORD notifierType, const void* notifier, HRASCONN* conn) override {
        s_->calls.push_back("RasDialA");
        s_->dialArgs.push_back(std::string(ext ? "ext" : "-") + (book ? " book" : " -") + " " +
                               std::to_string(notifierType) + (notifier ? " notifier" : " -"));
        std::memcpy(&s_->lastDial, params, sizeof(RASDIALPARAMS));
        *conn = s_->dialHandle;
        if (s_->dialStatus == SUCCESS && s_->dialConnects) {
            s_->connections.push_back({s_->dialHandle, params->szEntryName, "ppp", "fake0"});
        }
        return s_->dialStatus;
    }

    DWORD RasEnumConnectionsA(RASCONN* conn, DWORD* cb, DWORD* count) override {
        s_->calls.push_back("RasEnumConnectionsA");
        s_->enumConnectionsCb.push_back(*cb);
        if (!s_->enumConnectionsStatus.empty()) {
            const DWORD status = s_->enumConnectionsStatus.front();
            s_->enumConnectionsStatus.pop_front();
            return status;
        }
        return WriteRasConnections(s_->connections, conn, cb, count);
    }

    DWORD RasEnumEntriesA(const char* reserved, const char* book, RASENTRYNAME* names, DWORD* cb,
                          DWORD* count) override {
        s_->calls.push_back("RasEnumEntriesA");
        s_->enumEntriesCb.push_back(*cb);
        if (reserved != nullptr || book != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if (!s_->enumEntriesStatus.empty()) {
            const DWORD status = s_->enumEntriesStatus.front();
            s_->enumEntriesStatus.pop_front();
            return status;
        }
        return WriteRasEntryNames(s_->entries, names, cb, count);
    }

    DWORD RasGetErrorStringA(UINT error, char* buffer, DWORD size) override {
        s_->calls.push_back("RasGetErrorStringA");
        s_->errorStringSizes.push_back(size);
        return RasErrorStringInto(error, buffer, size);
    }

    DWORD RasHangUpA(HRASCONN conn) override {
        s_->calls.push_back("RasHangUpA");
        s_->hungUp.push_back(conn);
        std::erase_if(s_->connections,
                      [conn](const RasConnectionInfo& c) { return c.handle == conn; });
        return SUCCESS;
    }

private:
    std::shared_ptr<FakeRasState> s_;
};

inline RasLayerLoader FakeRasLoader(std::shared_ptr<FakeRasState> state) {
    return [state]() -> std::unique_ptr<RasLayer> { return std::make_unique<FakeRasLayer>(state); };
}

inline RasLayerLoader MissingRasLoader() {
    return []() -> std::unique_ptr<RasLayer> { return nullptr; };
}

} // namespace kairelon::test
