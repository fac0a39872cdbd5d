#include "dialup/RasApi.h"

#include "framework/StringTable.h"

namespace kairelon {

CRasApi::CRasApi(RasLayerLoader loader) : loader_(std::move(loader)) {
    if (!loader_) {
        loader_ = [] { return LoadSystemRasLayer(); };
    }
}

CRasApi::~CRasApi() {
    // The operations refer to the layer: drop them before the layer goes.
    pRasDial = nullptr;
    pRasEnumConnections = nullptr;
    pRasEnumEntries = nullptr;
    pRasGetErrorString = nullptr;
    pRasHangUp = nullptr;
    hLib.reset();
}

bool CRasApi::LoadDll() {
    hLib = loader_();
    return hLib != nullptr;
}

bool CRasApi::LoadProcs() {
    RasLayer* lib = hLib.get();
    if (lib == nullptr) {
        return false;
    }
    pRasDial = nullptr;
    if (lib->Offers("RasDialA")) {
        pRasDial = [lib](const void* ext, const char* book, const RASDIALPARAMS* params,
                         DWORD notifierType, const void* notifier, HRASCONN* conn) {
            return lib->RasDialA(ext, book, params, notifierType, notifier, conn);
        };
    }
    pRasEnumConnections = nullptr;
    if (lib->Offers("RasEnumConnectionsA")) {
        pRasEnumConnections = [lib](RASCONN* conn, DWORD* cb, DWORD* count) {
            return lib->RasEnumConnectionsA(conn, cb, count);
        };
    }
    pRasEnumEntries = nullptr;
    if (lib->Offers("RasEnumEntriesA")) {
        pRasEnumEntries = [lib](const char* reserved, const char* book, RASENTRYNAME* names,
                                DWORD* cb, DWORD* count) {
            return lib->RasEnumEntriesA(reserved, book, names, cb, count);
        };
    }
    pRasGetErrorString = nullptr;
    if (lib->Offers("RasGetErrorStringA")) {
        pRasGetErrorString = [lib](UINT error, char* buffer, DWORD size) {
            return lib->RasGetErrorStringA(error, buffer, size);
        };
    }
    pRasHangUp = nullptr;
    if (lib->Offers("RasHangUpA")) {
        pRasHangUp = [lib](HRASCONN conn) { return lib->RasHangUpA(conn); };
    }
    return pRasDial && pRasEnumConnections && pRasEnumEntries && pRasGetErrorString && pRasHangUp;
}

DWORD CRasApi::RasDial(const void* dialExtensions, const char* phonebook,
                       const RASDIALPARAMS* params, DWORD notifierType, const void* notifier,
                       HRASCONN* rasConn) {
    return pRasDial(dialExtensions, phonebook, params, notifierType, notifier, rasConn);
}

DWORD CRasApi::RasEnumConnections(RASCONN* rasConn, DWORD* cb, DWORD* connections) {
    return pRasEnumConnections(rasConn, cb, connections);
}

DWORD CRasApi::RasEnumEntries(const char* reserved, const char* phonebook, RASENTRYNAME* entryNames,
                              DWORD* cb, DWORD* entries) {
    return pRasEnumEntries(reserved, phonebook, entryNames, cb, entries);
}

DWORD CRasApi::RasGetErrorString(UINT errorValue, char* buffer, DWORD bufferSize) {
    return pRasGetErrorString(errorValue, buffer, bufferSize);
}

DWORD CRasApi::RasHangUp(HRASCONN rasConn) {
    return pRasHangUp(rasConn);
}

void InitializeRasApi(std::unique_ptr<CRasApi>& RasApi, bool& RasAvailable,
                      const ProtocolSink& AddProtocolEntry, RasLayerLoader loader) {
    RasAvailable = false;
    RasApi = std::make_unique<CRasApi>(std::move(loader));
    if (!RasApi->LoadDll()) {
        AddProtocolEntry(LoadStr(1070), ekWarning);
        return;
    }
    AddProtocolEntry(LoadStr(1071), ekInformation);
    if (RasApi->LoadProcs()) {
        RasAvailable = true;
        AddProtocolEntry(LoadStr(1072), ekInformation);
    } else {
        AddProtocolEntry(LoadStr(1069), ekWarning);
    }
}

} // namespace kairelon
