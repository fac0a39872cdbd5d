// The dial-up layer: the five operations through which the program lists, dials and hangs up
// dial-up connections.
//
// The program binds the layer at run time (dialup/RasApi.h) and calls it with the classic
// records, each chosen by the size written into its leading size field: `RASENTRYNAME` (264
// bytes), `RASCONN` (412) and `RASDIALPARAMS` (1052); all texts in them are 8-bit and
// zero-terminated. Every operation answers with a status: 0 for success, 603 when the buffer
// passed is too small (the byte count then holds the size needed), any other value a dial-up
// error number that `RasGetErrorStringA` turns into text. On Linux the layer is NetworkManager
// over D-Bus (platform/linux/NetworkManagerRas.cpp): phonebook entries are its connection
// profiles by name, connections are its active connections, a dial activates a profile and
// a hang-up deactivates it. This header owns the record layouts, the error numbers with
// their texts and the helpers that fill the records; it does not bind, dial or report
// anything itself. Tests inject their own `RasLayer` through a `RasLayerLoader`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kairelon {

using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using HRASCONN = std::uint32_t; // connection handle; 0 means none

constexpr std::size_t RAS_MaxEntryName = 256;
constexpr std::size_t RAS_MaxDeviceType = 16;
constexpr std::size_t RAS_MaxDeviceName = 128;
constexpr std::size_t RAS_MaxPhoneNumber = 128;
constexpr std::size_t RAS_MaxCallbackNumber = 128;
constexpr std::size_t UNLEN = 256;
constexpr std::size_t PWLEN = 256;
constexpr std::size_t DNLEN = 15;

struct RASENTRYNAME {
    DWORD dwSize; // 264
    char szEntryName[RAS_MaxEntryName + 1];
};

struct RASCONN {
    DWORD dwSize; // 412
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASDIALPARAMS {
    DWORD dwSize; // 1052
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[UNLEN + 1];
    char szPassword[PWLEN + 1];
    char szDomain[DNLEN + 1];
};

constexpr DWORD kRasEntryNameSize = 264;
constexpr DWORD kRasConnSize = 412;
constexpr DWORD kRasDialParamsSize = 1052;
static_assert(sizeof(RASENTRYNAME) == kRasEntryNameSize);
static_assert(sizeof(RASCONN) == kRasConnSize);
static_assert(sizeof(RASDIALPARAMS) == kRasDialParamsSize);

// Status values and the dial-up error numbers this layer answers with.
constexpr DWORD SUCCESS = 0;
constexpr DWORD ERROR_ACCESS_DENIED = 5;                 // activation refused by the service
constexpr DWORD ERROR_INVALID_HANDLE = 6;                // hang-up of an unknown handle
constexpr DWORD ERROR_INVALID_PARAMETER = 87;            // missing pointer, unsupported argument
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;            // byte count set to the size needed
constexpr DWORD ERROR_DEVICE_DOES_NOT_EXIST = 608;       // device missing or removed
constexpr DWORD ERROR_PORT_NOT_CONNECTED = 619;          // failed, no more specific reason
constexpr DWORD ERROR_CANNOT_FIND_PHONEBOOK_ENTRY = 623; // no profile of that name
constexpr DWORD ERROR_PORT_DISCONNECTED = 628;           // the device dropped the connection
constexpr DWORD ERROR_REMOTE_DISCONNECTION = 629;        // the peer ended the connection
constexpr DWORD ERROR_HARDWARE_FAILURE = 630;            // modem or device failed
constexpr DWORD ERROR_USER_DISCONNECTION = 631;          // ended by a user or program
constexpr DWORD ERROR_INVALID_SIZE = 632;                // wrong record size field
constexpr DWORD ERROR_PORT_NOT_AVAILABLE = 633;          // no device can take the connection
constexpr DWORD ERROR_REQUEST_TIMEOUT = 638;             // not activated in time
constexpr DWORD ERROR_LINE_BUSY = 676;
constexpr DWORD ERROR_NO_ANSWER = 678;
constexpr DWORD ERROR_NO_CARRIER = 679;
constexpr DWORD ERROR_NO_DIALTONE = 680;
constexpr DWORD ERROR_AUTHENTICATION_FAILURE = 691;   // user name or password refused
constexpr DWORD ERROR_INTERACTIVE_MODE = 703;         // credentials needed but none given
constexpr DWORD ERROR_RASMAN_CANNOT_INITIALIZE = 711; // the network service does not answer
constexpr DWORD ERROR_IP_CONFIGURATION = 716;         // no usable address configuration
constexpr DWORD ERROR_PPP_LCP_TERMINATED = 734;       // the PPP link failed or was terminated

// The text of a dial-up error number; a general text naming the number for one this layer
// does not know. Never empty.
std::string RasErrorText(UINT errorValue);

// The error-string operation for any layer: copies RasErrorText into `buffer` (bufferSize
// bytes, including the terminating zero). 87 without a buffer, 603 when the text does not fit
// (the buffer is then left as it was).
DWORD RasErrorStringInto(UINT errorValue, char* buffer, DWORD bufferSize);

// Copies `text` into a record field of `fieldSize` bytes, zero-terminated, cut to at most
// fieldSize - 1 bytes without splitting a UTF-8 character.
void CopyRasString(char* field, std::size_t fieldSize, std::string_view text);

// The text of a record field: up to its first zero byte, never past fieldSize bytes.
std::string RasString(const char* field, std::size_t fieldSize);

// One active connection as a layer reports it.
struct RasConnectionInfo {
    HRASCONN handle = 0;
    std::string entryName;
    std::string deviceType;
    std::string deviceName;
};

// The enumeration contract for any layer: checks the arguments and the first record's size
// field, answers 603 with the byte count (and record count) needed when the buffer is too
// small, otherwise fills one record per item (each with its size field) and answers 0.
DWORD WriteRasEntryNames(const std::vector<std::string>& names, RASENTRYNAME* buffer, DWORD* cb,
                         DWORD* entries);
DWORD WriteRasConnections(const std::vector<RasConnectionInfo>& connections, RASCONN* buffer,
                          DWORD* cb, DWORD* count);

// A loaded dial-up layer. The five operations keep the contract described above; they are
// called on the program's main thread only and block it until they are done.
class RasLayer {
public:
    virtual ~RasLayer() = default;

    // Whether this layer offers the operation with this exact name ("RasDialA",
    // "RasEnumConnectionsA", "RasEnumEntriesA", "RasGetErrorStringA", "RasHangUpA").
    virtual bool Offers(std::string_view procName) const = 0;

    // Dials the entry named in `params` (phone number, callback number and domain are not
    // used) and returns when it is connected or has failed. `dialExtensions`, `phonebook` and
    // `notifier` must be null: only the synchronous dial with the default phonebook exists.
    // On success `*rasConn` holds the new connection's handle; on failure it holds 0.
    virtual DWORD RasDialA(const void* dialExtensions, const char* phonebook,
                           const RASDIALPARAMS* params, DWORD notifierType, const void* notifier,
                           HRASCONN* rasConn) = 0;
    virtual DWORD RasEnumConnectionsA(RASCONN* rasConn, DWORD* cb, DWORD* connections) = 0;
    virtual DWORD RasEnumEntriesA(const char* reserved, const char* phonebook,
                                  RASENTRYNAME* entryNames, DWORD* cb, DWORD* entries) = 0;
    virtual DWORD RasGetErrorStringA(UINT errorValue, char* buffer, DWORD bufferSize) = 0;
    // Ends the connection and returns at once, without waiting for the line to drop.
    virtual DWORD RasHangUpA(HRASCONN rasConn) = 0;
};

// Loads a layer: null when it is not present.
using RasLayerLoader = std::function<std::unique_ptr<RasLayer>()>;

struct RasLayerOptions {
    // D-Bus address of the bus where the network service is found; empty: the system bus,
    // unless the environment variable KAIRELON_DIALUP_BUS names another address.
    std::string busAddress;
    int dialTimeoutMs = 120000; // longest wait of one dial for the activation, milliseconds
    int callTimeoutMs = 10000;  // longest wait for the answer of one bus call, milliseconds
    // Longest wait of the dialling thread for the whole dial, milliseconds; 0: the dial's
    // time-out plus a margin for its bus calls. A dial not over by then reports 638 and
    // calls off what it brings up later.
    int workerWaitMs = 0;
    // Whether the program was asked to stop; null: a SIGTERM or SIGINT received
    // (platform/StopSignals.h). A dial asked to stop, before or while it waits, is given up at
    // once: it reports 631 and calls off the activation it started.
    std::function<bool()> stopRequested;
};

// The system's dial-up layer (NetworkManager): null when the service does not answer.
std::unique_ptr<RasLayer> LoadSystemRasLayer(const RasLayerOptions& options = {});

} // namespace kairelon
