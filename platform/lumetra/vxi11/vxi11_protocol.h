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
