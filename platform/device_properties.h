// The device properties the census reads beside the description, with the values the Windows
// SDK gives DEVPKEY_Device_MatchingDeviceId and DEVPKEY_Device_DriverInfPath. Spelled out here
// because devpkey.h defines them only under INITGUID.
#pragma once

#include "platform/setup_api.h"

namespace device_property {

// The hardware or compatible ID through which Windows chose the device's driver.
inline constexpr DEVPROPKEY kMatchingDeviceId = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 8};
// The file name of the INF that installed that driver: in-box ones by name, others as oemN.inf.
inline constexpr DEVPROPKEY kDriverInfPath = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 5};

} // namespace device_property
