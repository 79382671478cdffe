#pragma once

namespace sim {

namespace EventCode {
inline constexpr int NoEvents = 0;
inline constexpr int SyntaxError = 102;
inline constexpr int DataTypeError = 104;
inline constexpr int ParameterNotAllowed = 108;
inline constexpr int MissingParameter = 109;
inline constexpr int UndefinedHeader = 113;
inline constexpr int DataOutOfRange = 222;
inline constexpr int IllegalParameterValue = 224;
inline constexpr int MassStorageError = 250;
inline constexpr int FileNameNotFound = 256;
inline constexpr int FileNameError = 257;
inline constexpr int QueueOverflow = 350;
} // namespace EventCode

inline const char* eventText(int code) {
    switch (code) {
    case EventCode::NoEvents:
        return "No events to report - queue empty";
    case EventCode::SyntaxError:
        return "Syntax error";
    case EventCode::DataTypeError:
        return "Data type error";
    case EventCode::ParameterNotAllowed:
        return "Parameter not allowed";
    case EventCode::MissingParameter:
        return "Missing parameter";
    case EventCode::UndefinedHeader:
        return "Undefined header";
    case EventCode::DataOutOfRange:
        return "Data out of range";
    case EventCode::IllegalParameterValue:
        return "Illegal parameter value";
    case EventCode::MassStorageError:
        return "Mass storage error";
    case EventCode::FileNameNotFound:
        return "File name not found";
    case EventCode::FileNameError:
        return "File name error";
    case EventCode::QueueOverflow:
        return "Queue overflow";
    default:
        return "Unknown event";
    }
}

} // namespace sim
