#pragma once

// The rpcgen-made VXI-11 definitions, without rpcgen's procedure-number macros: those have
// ordinary names (device_read, create_link...) that would clash with code that includes this.
#include <vxi11/vxi11.h>

#undef create_link
#undef device_write
#undef device_read
#undef device_readstb
#undef device_trigger
#undef device_clear
#undef device_remote
#undef device_local
#undef device_lock
#undef device_unlock
#undef device_enable_srq
#undef device_docmd
#undef destroy_link
#undef create_intr_chan
#undef destroy_intr_chan
#undef device_abort

namespace lumetra::vxi11 {

// Procedures of the core channel, as numbered by the protocol.
inline constexpr u_long ProcCreateLink = 10;
inline constexpr u_long ProcDeviceWrite = 11;
inline constexpr u_long ProcDeviceRead = 12;
inline constexpr u_long ProcDeviceReadStb = 13;
inline constexpr u_long ProcDeviceTrigger = 14;
inline constexpr u_long ProcDeviceClear = 15;
inline constexpr u_long ProcDeviceLock = 18;
inline constexpr u_long ProcDeviceUnlock = 19;
inline constexpr u_long ProcDeviceDocmd = 22;
inline constexpr u_long ProcDestroyLink = 23;
inline constexpr u_long ProcDestroyIntrChan = 26;

// Procedure of the abort channel.
inline constexpr u_long ProcDeviceAbort = 1;

// Device_Flags bits.
inline constexpr long FlagWaitLock = 1;
inline constexpr long FlagEnd = 8;

// Reasons a device_read ended.
inline constexpr long ReasonRequestCount = 1;
inline constexpr long ReasonEnd = 4;

// Device_ErrorCode values.
inline constexpr long ErrorNotAccessible = 3;
inline constexpr long ErrorInvalidLink = 4;
inline constexpr long ErrorNotSupported = 8;
inline constexpr long ErrorDeviceLocked = 11;
inline constexpr long ErrorNoLockHeld = 12;
inline constexpr long ErrorIoTimeout = 15;
inline constexpr long ErrorAbort = 23;

} // namespace lumetra::vxi11
