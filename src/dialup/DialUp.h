// The dial-up operations around a synchronisation: list the phonebook entries, find out
// whether an entry is connected, dial it, and hang up a connection that the run dialled.
//
// Each operation works through a bound `CRasApi` (dialup/RasApi.h) and may be called only
// while `RasAvailable` is true. The records are sized by their size fields (264, 412, 1052)
// and grown once when the layer answers 603. Names, user names and passwords longer than a
// record holds (256 bytes) are cut to it without splitting a UTF-8 character. Dialling and
// hanging up report their steps as protocol entries (1025 to 1028); listing and checking
// report nothing. The settings that say what to dial are read by the caller and passed in.
#pragma once

#include "dialup/RasApi.h"
#include "platform/RasLayer.h"

#include <string>
#include <vector>

namespace kairelon {

// Empties `items` and fills it with the names of the phonebook entries, in the layer's order.
// The enumeration is called twice, always: first with one record to learn the size, then
// with the buffer grown when the first call answered 603. Returns the number of entries
// listed (0 when the second call fails).
int FillRasEntries(CRasApi& RasApi, std::vector<std::string>& items);

// True when an active connection carries exactly this entry name (byte for byte, letter case
// counts). Any enumeration failure gives false.
bool IsRasConnected(CRasApi& RasApi, const std::string& entryName);

// Makes sure the entry is connected. Already connected: entry 1025, nothing dialled. Else
// dials it and blocks until the layer answers: entry 1026 on success (`dialledByUs` set,
// `handle` the new connection), or entry 1027 (error) and `errorText` from the layer's error
// string on failure; a handle that a failed dial hands back is released at once. `errorText`
// is written only on failure; `handle` is 0 unless a dial was made.
bool RasConnect(CRasApi& RasApi, const ProtocolSink& AddProtocolEntry, const std::string& entryName,
                const std::string& userName, std::string& errorText, HRASCONN& handle,
                bool& dialledByUs, const std::string& password);

// The hang-up of a run's closing block: when the run dialled the connection and the layer is
// available, hangs it up (its status is ignored, nothing waits for the line to drop) and adds
// entry 1028. Otherwise does nothing.
void HangUpDialledConnection(CRasApi* RasApi, bool RasAvailable, bool dialledByUs, HRASCONN handle,
                             const ProtocolSink& AddProtocolEntry);

} // namespace kairelon
