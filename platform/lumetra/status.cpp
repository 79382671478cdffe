#include "platform/lumetra/status.h"

namespace lumetra {

const char* statusName(Status code) {
    switch (code) {
    case status::Success:
        return "VI_SUCCESS";
    case status::ErrorSystem:
        return "VI_ERROR_SYSTEM_ERROR";
    case status::ErrorInvalidObject:
        return "VI_ERROR_INV_OBJECT";
    case status::ErrorResourceLocked:
        return "VI_ERROR_RSRC_LOCKED";
    case status::ErrorResourceNotFound:
        return "VI_ERROR_RSRC_NFOUND";
    case status::ErrorInvalidResourceName:
        return "VI_ERROR_INV_RSRC_NAME";
    case status::ErrorTimeout:
        return "VI_ERROR_TMO";
    case status::ErrorAttributeNotSupported:
        return "VI_ERROR_NSUP_ATTR";
    case status::ErrorAttributeStateNotSupported:
        return "VI_ERROR_NSUP_ATTR_STATE";
    case status::ErrorIo:
        return "VI_ERROR_IO";
    case status::ErrorOperationNotSupported:
        return "VI_ERROR_NSUP_OPER";
    case status::ErrorConnectionLost:
        return "VI_ERROR_CONN_LOST";
    case status::ErrorMachineNotAvailable:
        return "VI_ERROR_MACHINE_NAVAIL";
    default:
        return code < 0 ? "VI_ERROR" : "VI_WARN";
    }
}

} // namespace lumetra
