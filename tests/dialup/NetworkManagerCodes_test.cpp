// NetworkManager's states and reasons as dial-up error numbers, without any bus: what a person
// reads when a dial fails must name the cause NetworkManager gave.
#include "platform/RasLayer.h"
#include "platform/linux/NetworkManagerCodes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace kairelon;
using namespace kairelon::nm;

TEST(NetworkManagerCodes, ActivationReasonsBecomeDialUpErrors) {
    const std::pair<unsigned, DWORD> table[] = {
        {ActiveReasonUnknown, ERROR_PORT_NOT_CONNECTED},
        {ActiveReasonNone, ERROR_PORT_NOT_CONNECTED},
        {ActiveReasonUserDisconnected, ERROR_USER_DISCONNECTION},
        {ActiveReasonDeviceDisconnected, ERROR_PORT_DISCONNECTED},
        {ActiveReasonServiceStopped, ERROR_PORT_DISCONNECTED},
        {ActiveReasonIpConfigInvalid, ERROR_IP_CONFIGURATION},
        {ActiveReasonConnectTimeout, ERROR_REQUEST_TIMEOUT},
        {ActiveReasonServiceStartTimeout, ERROR_REQUEST_TIMEOUT},
        {ActiveReasonServiceStartFailed, ERROR_PORT_NOT_AVAILABLE},
        {ActiveReasonNoSecrets, ERROR_INTERACTIVE_MODE},
        {ActiveReasonLoginFailed, ERROR_AUTHENTICATION_FAILURE},
        {ActiveReasonConnectionRemoved, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
        {ActiveReasonDependencyFailed, ERROR_PORT_NOT_CONNECTED},
        {ActiveReasonDeviceRealizeFailed, ERROR_DEVICE_DOES_NOT_EXIST},
        {ActiveReasonDeviceRemoved, ERROR_DEVICE_DOES_NOT_EXIST},
        {15, ERROR_PORT_NOT_CONNECTED}, // a reason of a later version
        {0xffffffffu, ERROR_PORT_NOT_CONNECTED},
    };
    for (const auto& [reason, error] : table) {
        SCOPED_TRACE(reason);
        EXPECT_EQ(ErrorForActiveReason(reason), error);
    }
}

TEST(NetworkManagerCodes, DeviceReasonsBecomeDialUpErrors) {
    const std::pair<unsigned, DWORD> table[] = {
        {DeviceReasonNone, ERROR_PORT_NOT_CONNECTED},
        {DeviceReasonUnknown, ERROR_PORT_NOT_CONNECTED},
        {2, ERROR_PORT_NOT_CONNECTED}, // now managed: says nothing about a dial
        {DeviceReasonConfigFailed, ERROR_IP_CONFIGURATION},
        {DeviceReasonIpConfigUnavailable, ERROR_IP_CONFIGURATION},
        {DeviceReasonIpConfigExpired, ERROR_IP_CONFIGURATION},
        {DeviceReasonNoSecrets, ERROR_INTERACTIVE_MODE},
        {DeviceReasonSupplicantDisconnect, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonSupplicantConfigFailed, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonSupplicantFailed, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonSupplicantTimeout, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonPppStartFailed, ERROR_PPP_LCP_TERMINATED},
        {DeviceReasonPppDisconnect, ERROR_REMOTE_DISCONNECTION},
        {DeviceReasonPppFailed, ERROR_PPP_LCP_TERMINATED},
        {DeviceReasonDhcpStartFailed, ERROR_IP_CONFIGURATION},
        {DeviceReasonDhcpError, ERROR_IP_CONFIGURATION},
        {DeviceReasonDhcpFailed, ERROR_IP_CONFIGURATION},
        {18, ERROR_PORT_NOT_CONNECTED}, // shared connection start failed
        {DeviceReasonAutoIpStartFailed, ERROR_IP_CONFIGURATION},
        {DeviceReasonAutoIpError, ERROR_IP_CONFIGURATION},
        {DeviceReasonAutoIpFailed, ERROR_IP_CONFIGURATION},
        {DeviceReasonModemBusy, ERROR_LINE_BUSY},
        {DeviceReasonModemNoDialTone, ERROR_NO_DIALTONE},
        {DeviceReasonModemNoCarrier, ERROR_NO_CARRIER},
        {DeviceReasonModemDialTimeout, ERROR_NO_ANSWER},
        {DeviceReasonModemDialFailed, ERROR_HARDWARE_FAILURE},
        {DeviceReasonModemInitFailed, ERROR_HARDWARE_FAILURE},
        {DeviceReasonGsmPinCheckFailed, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonFirmwareMissing, ERROR_DEVICE_DOES_NOT_EXIST},
        {DeviceReasonRemoved, ERROR_DEVICE_DOES_NOT_EXIST},
        {DeviceReasonSleeping, ERROR_PORT_DISCONNECTED},
        {DeviceReasonConnectionRemoved, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
        {DeviceReasonUserRequested, ERROR_USER_DISCONNECTION},
        {DeviceReasonCarrier, ERROR_NO_CARRIER},
        {DeviceReasonModemNotFound, ERROR_DEVICE_DOES_NOT_EXIST},
        {DeviceReasonGsmSimPinRequired, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonGsmSimPukRequired, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonGsmSimWrong, ERROR_AUTHENTICATION_FAILURE},
        {DeviceReasonModemManagerUnavailable, ERROR_DEVICE_DOES_NOT_EXIST},
        {DeviceReasonModemFailed, ERROR_HARDWARE_FAILURE},
        {DeviceReasonSimPinIncorrect, ERROR_AUTHENTICATION_FAILURE},
        {67, ERROR_PORT_NOT_CONNECTED},
        {1000, ERROR_PORT_NOT_CONNECTED},
    };
    for (const auto& [reason, error] : table) {
        SCOPED_TRACE(reason);
        EXPECT_EQ(ErrorForDeviceReason(reason), error);
    }
    EXPECT_FALSE(IsTellingDeviceReason(DeviceReasonNone));
    EXPECT_FALSE(IsTellingDeviceReason(DeviceReasonUnknown));
    EXPECT_TRUE(IsTellingDeviceReason(DeviceReasonConfigFailed));
}

TEST(NetworkManagerCodes, EveryAnswerIsADialUpErrorWithAText) {
    std::set<DWORD> seen;
    for (unsigned reason = 0; reason < 80; ++reason) {
        seen.insert(ErrorForDeviceReason(reason));
        seen.insert(ErrorForActiveReason(reason));
    }
    for (DWORD error : seen) {
        SCOPED_TRACE(error);
        EXPECT_NE(error, SUCCESS);
        EXPECT_EQ(RasErrorText(error).find(std::to_string(error)), std::string::npos)
            << "a general text for an error number the layer does not know";
    }
}

TEST(NetworkManagerCodes, FailedBusCallsBecomeDialUpErrors) {
    const std::pair<const char*, DWORD> table[] = {
        {"org.freedesktop.DBus.Error.NoReply", ERROR_RASMAN_CANNOT_INITIALIZE},
        {"org.freedesktop.DBus.Error.Timeout", ERROR_RASMAN_CANNOT_INITIALIZE},
        {"org.freedesktop.DBus.Error.Disconnected", ERROR_RASMAN_CANNOT_INITIALIZE},
        {"org.freedesktop.DBus.Error.ServiceUnknown", ERROR_RASMAN_CANNOT_INITIALIZE},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", ERROR_RASMAN_CANNOT_INITIALIZE},
        {"org.freedesktop.NetworkManager.PermissionDenied", ERROR_ACCESS_DENIED},
        {"org.freedesktop.NetworkManager.Settings.Connection.NotAuthorized", ERROR_ACCESS_DENIED},
        {"org.freedesktop.DBus.Error.AccessDenied", ERROR_ACCESS_DENIED},
        {"org.freedesktop.NetworkManager.UnknownConnection", ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
        {"org.freedesktop.DBus.Error.UnknownObject", ERROR_CANNOT_FIND_PHONEBOOK_ENTRY},
        {"org.freedesktop.NetworkManager.ConnectionNotActive", ERROR_PORT_NOT_AVAILABLE},
        {"org.freedesktop.NetworkManager.ConnectionAlreadyActive", ERROR_PORT_NOT_AVAILABLE},
        {"", ERROR_PORT_NOT_AVAILABLE},
    };
    for (const auto& [name, error] : table) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorForBusErrorName(QString::fromLatin1(name)), error);
    }
}

TEST(NetworkManagerCodes, AnObjectThatEndedIsToldFromOtherErrors) {
    EXPECT_TRUE(IsGoneErrorName("org.freedesktop.DBus.Error.UnknownObject"));
    EXPECT_TRUE(IsGoneErrorName("org.freedesktop.DBus.Error.UnknownMethod"));
    EXPECT_TRUE(IsGoneErrorName("org.freedesktop.NetworkManager.ConnectionNotActive"));
    EXPECT_FALSE(IsGoneErrorName("org.freedesktop.DBus.Error.NoReply"));
    EXPECT_FALSE(IsGoneErrorName("org.freedesktop.DBus.Error.AccessDenied"));
    EXPECT_FALSE(IsGoneErrorName(""));
}
