#include "Exceptions.h"

#include <cstdio>

std::string EInOutError::MessageFor(int code) {
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 100:
        return "Read beyond end of file";
    case 101:
        return "Disk full";
    case 106:
        return "Invalid numeric input";
    case 223:
        return "File too large";
    default:
        return "I/O error " + std::to_string(code);
    }
}

EInOutError::EInOutError(int code) : Exception(MessageFor(code)), FErrorCode(code) {}

namespace {

// The system texts of the result codes the shell layer produces.
const char *SystemTextFor(HRESULT code) {
    switch (static_cast<std::uint32_t>(code)) {
    case 0x80004001u:
        return "Not implemented";
    case 0x80004002u:
        return "No such interface supported";
    case 0x80004004u:
        return "Operation aborted";
    case 0x80004005u:
        return "Unspecified error";
    case 0x8000000Au:
        return "The data necessary to complete this operation is not yet available.";
    case 0x8007000Eu:
        return "Not enough memory resources are available to complete this operation.";
    case 0x80070057u:
        return "The parameter is incorrect.";
    case 0x80070002u:
        return "The system cannot find the file specified.";
    case 0x800705B4u:
        return "This operation returned because the timeout period expired.";
    case 0x80070003u:
        return "The system cannot find the path specified.";
    case 0x80070005u:
        return "Access is denied.";
    case 0x8007007Bu:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case 0x800700A1u:
        return "The specified path is invalid.";
    case 0x8007010Bu:
        return "The directory name is invalid.";
    default:
        return nullptr;
    }
}

std::string OleMessage(HRESULT code) {
    if (const char *text = SystemTextFor(code))
        return text;
    char buf[32];
    std::snprintf(buf, sizeof buf, "OLE error %.8x", static_cast<unsigned>(code));
    return buf;
}

} // namespace

EOleSysError::EOleSysError(HRESULT code) : EOleError(OleMessage(code)), FErrorCode(code) {}

void OleCheck(HRESULT code) {
    if (code < 0)
        throw EOleSysError(code);
}
