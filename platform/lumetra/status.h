#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace lumetra {

// Completion codes follow the VISA convention: negative means failure.
using Status = std::int32_t;

namespace status {
inline constexpr Status Success = 0;
inline constexpr Status ErrorSystem = static_cast<Status>(0xBFFF0000u);
inline constexpr Status ErrorInvalidObject = static_cast<Status>(0xBFFF000Eu);
inline constexpr Status ErrorResourceLocked = static_cast<Status>(0xBFFF000Fu);
inline constexpr Status ErrorResourceNotFound = static_cast<Status>(0xBFFF0011u);
inline constexpr Status ErrorInvalidResourceName = static_cast<Status>(0xBFFF0012u);
inline constexpr Status ErrorTimeout = static_cast<Status>(0xBFFF0015u);
inline constexpr Status ErrorAttributeNotSupported = static_cast<Status>(0xBFFF001Du);
inline constexpr Status ErrorAttributeStateNotSupported = static_cast<Status>(0xBFFF001Eu);
inline constexpr Status ErrorIo = static_cast<Status>(0xBFFF003Eu);
inline constexpr Status ErrorOperationNotSupported = static_cast<Status>(0xBFFF0067u);
inline constexpr Status ErrorConnectionLost = static_cast<Status>(0xBFFF00A6u);
inline constexpr Status ErrorMachineNotAvailable = static_cast<Status>(0xBFFF00A7u);
} // namespace status

// Symbolic name of a completion code, e.g. "VI_ERROR_TMO".
const char* statusName(Status code);

class Error : public std::runtime_error {
public:
    Error(Status code, const std::string& text) : std::runtime_error(text), code_(code) {}
    Status code() const { return code_; }

private:
    Status code_;
};

} // namespace lumetra
