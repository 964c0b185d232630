// The device properties the census reads beside the description, with the values the Windows
// SDK gives DEVPKEY_Device_MatchingDeviceId, _DriverInfPath, _ContainerId and
// _InLocalMachineContainer. Spelled out here because devpkey.h defines them only under INITGUID.
#pragma once

#include "platform/setup_api.h"

namespace device_property {

// The hardware or compatible ID through which Windows chose the device's driver.
inline constexpr DEVPROPKEY kMatchingDeviceId = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 8};
// The file name of the INF that installed that driver: in-box ones by name, others as oemN.inf.
inline constexpr DEVPROPKEY kDriverInfPath = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 5};

// The container of the physical device the node belongs to (DEVPROP_TYPE_GUID). A removable or
// user-connectable device gets one of its own, which the nodes below it inherit.
inline constexpr DEVPROPKEY kContainerId = {
    {0x8c7ed206, 0x3f8a, 0x4827, {0xb3, 0xab, 0xae, 0x9e, 0x1f, 0xae, 0xfc, 0x6c}}, 2};
// DEVPROP_TRUE when the node is in the machine's own container (DEVPROP_TYPE_BOOLEAN); Windows 8
// and later.
inline constexpr DEVPROPKEY kInLocalMachineContainer = {
    {0x8c7ed206, 0x3f8a, 0x4827, {0xb3, 0xab, 0xae, 0x9e, 0x1f, 0xae, 0xfc, 0x6c}}, 4};
// The container of every device built into the machine.
inline constexpr GUID kMachineContainer = {
    0x00000000, 0x0000, 0x0000, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}};

} // namespace device_property
