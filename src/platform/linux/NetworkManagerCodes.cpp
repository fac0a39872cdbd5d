#include "platform/linux/NetworkManagerCodes.h"

namespace kairelon::nm {

DWORD ErrorForDeviceReason(unsigned reason) {
    switch (reason) {
    case DeviceReasonNoSecrets:
        return ERROR_INTERACTIVE_MODE;
    case DeviceReasonSupplicantDisconnect:
    case DeviceReasonSupplicantConfigFailed:
    case DeviceReasonSupplicantFailed:
    case DeviceReasonSupplicantTimeout:
    case DeviceReasonGsmPinCheckFailed:
    case DeviceReasonGsmSimPinRequired:
    case DeviceReasonGsmSimPukRequired:
    case DeviceReasonGsmSimWrong:
    case DeviceReasonSimPinIncorrect:
        return ERROR_AUTHENTICATION_FAILURE;
    case DeviceReasonPppStartFailed:
    case DeviceReasonPppFailed:
        return ERROR_PPP_LCP_TERMINATED;
    case DeviceReasonPppDisconnect:
        return ERROR_REMOTE_DISCONNECTION;
    case DeviceReasonConfigFailed:
    case DeviceReasonIpConfigUnavailable:
    case DeviceReasonIpConfigExpired:
    case DeviceReasonDhcpStartFailed:
    case DeviceReasonDhcpError:
    case DeviceReasonDhcpFailed:
    case DeviceReasonAutoIpStartFailed:
    case DeviceReasonAutoIpError:
    case DeviceReasonAutoIpFailed:
        return ERROR_IP_CONFIGURATION;
    case DeviceReasonModemBusy:
        return ERROR_LINE_BUSY;
    case DeviceReasonModemNoDialTone:
        return ERROR_NO_DIALTONE;
    case DeviceReasonModemNoCarrier:
    case DeviceReasonCarrier:
        return ERROR_NO_CARRIER;
    case DeviceReasonModemDialTimeout:
        return ERROR_NO_ANSWER;
    case DeviceReasonModemDialFailed:
    case DeviceReasonModemInitFailed:
    case DeviceReasonModemFailed:
        return ERROR_HARDWARE_FAILURE;
    case DeviceReasonFirmwareMissing:
    case DeviceReasonRemoved:
    case DeviceReasonModemNotFound:
    case DeviceReasonModemManagerUnavailable:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    case DeviceReasonSleeping:
        return ERROR_PORT_DISCONNECTED;
    case DeviceReasonConnectionRemoved:
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    case DeviceReasonUserRequested:
        return ERROR_USER_DISCONNECTION;
    default:
        return ERROR_PORT_NOT_CONNECTED;
    }
}

DWORD ErrorForActiveReason(unsigned reason) {
    switch (reason) {
    case ActiveReasonUserDisconnected:
        return ERROR_USER_DISCONNECTION;
    case ActiveReasonDeviceDisconnected:
    case ActiveReasonServiceStopped:
        return ERROR_PORT_DISCONNECTED;
    case ActiveReasonIpConfigInvalid:
        return ERROR_IP_CONFIGURATION;
    case ActiveReasonConnectTimeout:
    case ActiveReasonServiceStartTimeout:
        return ERROR_REQUEST_TIMEOUT;
    case ActiveReasonServiceStartFailed:
        return ERROR_PORT_NOT_AVAILABLE;
    case ActiveReasonNoSecrets:
        return ERROR_INTERACTIVE_MODE;
    case ActiveReasonLoginFailed:
        return ERROR_AUTHENTICATION_FAILURE;
    case ActiveReasonConnectionRemoved:
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    case ActiveReasonDeviceRealizeFailed:
    case ActiveReasonDeviceRemoved:
        return ERROR_DEVICE_DOES_NOT_EXIST;
    default: // unknown, none, dependency failed
        return ERROR_PORT_NOT_CONNECTED;
    }
}

DWORD ErrorForBusErrorName(const QString& name) {
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
        name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return ERROR_RASMAN_CANNOT_INITIALIZE;
    }
    if (name.endsWith(QLatin1String(".PermissionDenied")) ||
        name.endsWith(QLatin1String(".NotAuthorized")) ||
        name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        return ERROR_ACCESS_DENIED;
    }
    if (name.endsWith(QLatin1String(".UnknownConnection")) ||
        name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject")) {
        return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    }
    return ERROR_PORT_NOT_AVAILABLE;
}

bool IsGoneErrorName(const QString& name) {
    return name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           name.endsWith(QLatin1String(".ConnectionNotActive"));
}

} // namespace kairelon::nm
