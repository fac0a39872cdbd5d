#include "dialup/DialUp.h"

#include "framework/StringTable.h"

#include <cstdint>
#include <cstring>
#include <string.h> // explicit_bzero

namespace kairelon {
namespace {

// A zero-filled buffer of records, aligned for their size fields. Never smaller than one
// record, so the first size field can always be written.
class RecordBuffer {
public:
    RecordBuffer(DWORD bytes, DWORD recordSize) { Resize(bytes, recordSize); }

    void Resize(DWORD bytes, DWORD recordSize) {
        bytes_ = bytes < recordSize ? recordSize : bytes;
        words_.assign((bytes_ + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
        *reinterpret_cast<DWORD*>(words_.data()) = recordSize;
    }
    template <typename Record> Record* As() { return reinterpret_cast<Record*>(words_.data()); }
    DWORD Bytes() const { return bytes_; }

private:
    std::vector<std::uint64_t> words_;
    DWORD bytes_ = 0;
};

// Calls an enumeration twice as the binding expects: the first call sizes the buffer, and
// after a 603 the buffer grows to the byte count given back; the second call's status counts.
// `records` is the number of records that may be read after a status 0.
template <typename Record, typename Call>
DWORD EnumerateTwice(RecordBuffer& buffer, DWORD recordSize, DWORD& records, Call call) {
    DWORD cb = recordSize;
    DWORD count = 0;
    DWORD status = call(buffer.template As<Record>(), &cb, &count);
    if (status == ERROR_BUFFER_TOO_SMALL) {
        buffer.Resize(cb, recordSize);
    }
    cb = buffer.Bytes();
    count = 0;
    status = call(buffer.template As<Record>(), &cb, &count);
    // A layer that claims more records than the buffer holds is not read past its end.
    const DWORD fit = buffer.Bytes() / recordSize;
    records = status == SUCCESS ? (count < fit ? count : fit) : 0;
    return status;
}

} // namespace

int FillRasEntries(CRasApi& RasApi, std::vector<std::string>& items) {
    items.clear();
    RecordBuffer buffer(kRasEntryNameSize, kRasEntryNameSize);
    DWORD records = 0;
    EnumerateTwice<RASENTRYNAME>(
        buffer, kRasEntryNameSize, records, [&](RASENTRYNAME* names, DWORD* cb, DWORD* count) {
            return RasApi.RasEnumEntries(nullptr, nullptr, names, cb, count);
        });
    const RASENTRYNAME* names = buffer.As<RASENTRYNAME>();
    for (DWORD i = 0; i < records; ++i) {
        items.push_back(RasString(names[i].szEntryName, sizeof names[i].szEntryName));
    }
    return static_cast<int>(records);
}

bool IsRasConnected(CRasApi& RasApi, const std::string& entryName) {
    RecordBuffer buffer(kRasConnSize, kRasConnSize);
    DWORD records = 0;
    EnumerateTwice<RASCONN>(buffer, kRasConnSize, records,
                            [&](RASCONN* conns, DWORD* cb, DWORD* count) {
                                return RasApi.RasEnumConnections(conns, cb, count);
                            });
    const RASCONN* conns = buffer.As<RASCONN>();
    for (DWORD i = 0; i < records; ++i) {
        if (RasString(conns[i].szEntryName, sizeof conns[i].szEntryName) == entryName) {
            return true;
        }
    }
    return false;
}

bool RasConnect(CRasApi& RasApi, const ProtocolSink& AddProtocolEntry, const std::string& entryName,
                const std::string& userName, std::string& errorText, HRASCONN& handle,
                bool& dialledByUs, const std::string& password) {
    dialledByUs = false;
    handle = 0;
    if (IsRasConnected(RasApi, entryName)) {
        AddProtocolEntry(LoadStr(1025), ekInformation);
        return true;
    }

    RASDIALPARAMS params;
    std::memset(&params, 0, sizeof params);
    params.dwSize = kRasDialParamsSize;
    CopyRasString(params.szEntryName, sizeof params.szEntryName, entryName);
    CopyRasString(params.szUserName, sizeof params.szUserName, userName);
    CopyRasString(params.szPassword, sizeof params.szPassword, password);
    char errorBuffer[255];
    std::memset(errorBuffer, 0, sizeof errorBuffer);

    HRASCONN conn = 0;
    const DWORD status = RasApi.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn);
    // The password has been handed over; it does not stay in this record.
    explicit_bzero(params.szPassword, sizeof params.szPassword);
    handle = conn;
    if (status == SUCCESS) {
        AddProtocolEntry(LoadStr(1026), ekInformation);
        dialledByUs = true;
        return true;
    }

    AddProtocolEntry(LoadStr(1027), ekError);
    RasApi.RasGetErrorString(status, errorBuffer, 254);
    errorText = RasString(errorBuffer, sizeof errorBuffer);
    if (conn != 0) {
        // A failed dial may still hold a connection handle; release it so nothing is left
        // half open. The run will not hang it up, as it did not dial successfully.
        RasApi.RasHangUp(conn);
    }
    return false;
}

void HangUpDialledConnection(CRasApi* RasApi, bool RasAvailable, bool dialledByUs, HRASCONN handle,
                             const ProtocolSink& AddProtocolEntry) {
    if (!dialledByUs || !RasAvailable || RasApi == nullptr) {
        return;
    }
    RasApi->RasHangUp(handle);
    AddProtocolEntry(LoadStr(1028), ekInformation);
}

} // namespace kairelon
