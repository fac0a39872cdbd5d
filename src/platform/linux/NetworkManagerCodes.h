// NetworkManager's numbers as the dial-up layer reads them, and their dial-up error numbers.
//
// The states and reasons NetworkManager reports over D-Bus for active connections and devices
// are named here once (the numbers of its D-Bus reference), together with the flags the layer
// sends, and the three maps that turn a failed activation into a dial-up error number of
// platform/RasLayer.h: by the active connection's reason, by its device's reason (more
// precise where the device failed), and by the error name of a bus call that failed. Pure
// functions: nothing here talks to the bus.
#pragma once

#include "platform/RasLayer.h"

#include <QString>

namespace kairelon::nm {

// NMActiveConnectionState.
enum ActiveState : unsigned {
    ActiveUnknown = 0,
    ActiveActivating = 1,
    ActiveActivated = 2,
    ActiveDeactivating = 3,
    ActiveDeactivated = 4,
};

// NMActiveConnectionStateReason.
enum ActiveReason : unsigned {
    ActiveReasonUnknown = 0,
    ActiveReasonNone = 1,
    ActiveReasonUserDisconnected = 2,
    ActiveReasonDeviceDisconnected = 3,
    ActiveReasonServiceStopped = 4,
    ActiveReasonIpConfigInvalid = 5,
    ActiveReasonConnectTimeout = 6,
    ActiveReasonServiceStartTimeout = 7,
    ActiveReasonServiceStartFailed = 8,
    ActiveReasonNoSecrets = 9,
    ActiveReasonLoginFailed = 10,
    ActiveReasonConnectionRemoved = 11,
    ActiveReasonDependencyFailed = 12,
    ActiveReasonDeviceRealizeFailed = 13,
    ActiveReasonDeviceRemoved = 14,
};

// NMDeviceStateReason, the values the layer tells apart.
enum DeviceReason : unsigned {
    DeviceReasonNone = 0,
    DeviceReasonUnknown = 1,
    DeviceReasonConfigFailed = 4,
    DeviceReasonIpConfigUnavailable = 5,
    DeviceReasonIpConfigExpired = 6,
    DeviceReasonNoSecrets = 7,
    DeviceReasonSupplicantDisconnect = 8,
    DeviceReasonSupplicantConfigFailed = 9,
    DeviceReasonSupplicantFailed = 10,
    DeviceReasonSupplicantTimeout = 11,
    DeviceReasonPppStartFailed = 12,
    DeviceReasonPppDisconnect = 13,
    DeviceReasonPppFailed = 14,
    DeviceReasonDhcpStartFailed = 15,
    DeviceReasonDhcpError = 16,
    DeviceReasonDhcpFailed = 17,
    DeviceReasonAutoIpStartFailed = 20,
    DeviceReasonAutoIpError = 21,
    DeviceReasonAutoIpFailed = 22,
    DeviceReasonModemBusy = 23,
    DeviceReasonModemNoDialTone = 24,
    DeviceReasonModemNoCarrier = 25,
    DeviceReasonModemDialTimeout = 26,
    DeviceReasonModemDialFailed = 27,
    DeviceReasonModemInitFailed = 28,
    DeviceReasonGsmPinCheckFailed = 34,
    DeviceReasonFirmwareMissing = 35,
    DeviceReasonRemoved = 36,
    DeviceReasonSleeping = 37,
    DeviceReasonConnectionRemoved = 38,
    DeviceReasonUserRequested = 39,
    DeviceReasonCarrier = 40,
    DeviceReasonModemNotFound = 43,
    DeviceReasonGsmSimPinRequired = 46,
    DeviceReasonGsmSimPukRequired = 47,
    DeviceReasonGsmSimWrong = 48,
    DeviceReasonModemManagerUnavailable = 52,
    DeviceReasonModemFailed = 57,
    DeviceReasonSimPinIncorrect = 59,
};

// NMSecretAgentGetSecretsFlags: the secrets given before were refused.
constexpr unsigned SecretsRequestNew = 0x2;
// NMSettingsUpdate2Flags: change the profile in memory only, never its file on disk.
constexpr unsigned Update2InMemory = 0x2;

// A failed activation's reasons as a dial-up error number.
DWORD ErrorForActiveReason(unsigned reason);
DWORD ErrorForDeviceReason(unsigned reason);
// Whether a device reason says more than "none" or "unknown".
constexpr bool IsTellingDeviceReason(unsigned reason) {
    return reason > DeviceReasonUnknown;
}

// The error name of a failed bus call as a dial-up error number: no answer from the service
// 711, refused 5, unknown profile or object 623, anything else 633.
DWORD ErrorForBusErrorName(const QString& errorName);
// Whether the error name says the object asked about is gone (ended or never there).
bool IsGoneErrorName(const QString& errorName);

} // namespace kairelon::nm
