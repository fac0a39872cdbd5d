// The binding to the dial-up layer, made at run time.
//
// `CRasApi` owns the loaded layer (its "library handle") and the five operations looked up in
// it by name, and forwards calls to them unchanged: no check, no translation of the status.
// The program does not need the layer: when it is missing, or lacks one of the five
// operations, `InitializeRasApi` reports that as a protocol entry and leaves `RasAvailable`
// false, and every dial-up feature stays off. The forwarders may be called only while
// `RasAvailable` is true. The binding does not decide when to dial; dialup/DialUp.h does.
#pragma once

#include "diag/ProtocolEntry.h"
#include "platform/RasLayer.h"

#include <functional>
#include <memory>

namespace kairelon {

using TRasDial = std::function<DWORD(const void*, const char*, const RASDIALPARAMS*, DWORD,
                                     const void*, HRASCONN*)>;
using TRasEnumConnections = std::function<DWORD(RASCONN*, DWORD*, DWORD*)>;
using TRasEnumEntries =
    std::function<DWORD(const char*, const char*, RASENTRYNAME*, DWORD*, DWORD*)>;
using TRasGetErrorString = std::function<DWORD(UINT, char*, DWORD)>;
using TRasHangUp = std::function<DWORD(HRASCONN)>;

class CRasApi {
public:
    // `loader` finds the layer when LoadDll runs; by default the system's layer.
    explicit CRasApi(RasLayerLoader loader = nullptr);
    ~CRasApi(); // frees the layer if it was loaded
    CRasApi(const CRasApi&) = delete;
    CRasApi& operator=(const CRasApi&) = delete;

    // Loads the layer; true when it is present.
    bool LoadDll();
    // Looks up the five operations by name and stores each, found or not; true only when all
    // five were found. False without a loaded layer.
    bool LoadProcs();

    DWORD RasDial(const void* dialExtensions, const char* phonebook, const RASDIALPARAMS* params,
                  DWORD notifierType, const void* notifier, HRASCONN* rasConn);
    DWORD RasEnumConnections(RASCONN* rasConn, DWORD* cb, DWORD* connections);
    DWORD RasEnumEntries(const char* reserved, const char* phonebook, RASENTRYNAME* entryNames,
                         DWORD* cb, DWORD* entries);
    DWORD RasGetErrorString(UINT errorValue, char* buffer, DWORD bufferSize);
    DWORD RasHangUp(HRASCONN rasConn);

    bool Loaded() const { return hLib != nullptr; }

private:
    TRasDial pRasDial;
    TRasEnumConnections pRasEnumConnections;
    TRasEnumEntries pRasEnumEntries;
    TRasGetErrorString pRasGetErrorString;
    TRasHangUp pRasHangUp;
    std::unique_ptr<RasLayer> hLib; // the loaded layer; null while not loaded

    RasLayerLoader loader_; // how LoadDll finds the layer (the system's or a test's)
};

// The start-up steps of the binding: creates `RasApi`, loads the layer and looks up its
// operations, adding entry 1070 (warning) when the layer is missing, else 1071 (information)
// followed by 1072 (information, `RasAvailable` set) or 1069 (warning) when an operation is
// missing. `RasAvailable` is set false first and true only when all five were found.
void InitializeRasApi(std::unique_ptr<CRasApi>& RasApi, bool& RasAvailable,
                      const ProtocolSink& AddProtocolEntry, RasLayerLoader loader = nullptr);

} // namespace kairelon
