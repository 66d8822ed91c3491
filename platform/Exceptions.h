// The program's exception classes. Every one names its class, which message boxes use as
// their caption.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "WinTypes.h"

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string &Message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FMessage.c_str(); }
    virtual const char *ClassName() const noexcept { return "Exception"; }

private:
    std::string FMessage;
};

#define PIXAVANT_EXCEPTION_CLASS(Name, Base)                                                       \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char *ClassName() const noexcept override { return #Name; }                          \
    }

// Input/output failure carrying the platform code; the message is fixed by the code.
class EInOutError : public Exception {
public:
    explicit EInOutError(int code);
    int ErrorCode() const noexcept { return FErrorCode; }
    const char *ClassName() const noexcept override { return "EInOutError"; }
    static std::string MessageFor(int code);

private:
    int FErrorCode;
};

PIXAVANT_EXCEPTION_CLASS(EStreamError, Exception);
PIXAVANT_EXCEPTION_CLASS(EFOpenError, EStreamError);
PIXAVANT_EXCEPTION_CLASS(EFCreateError, EStreamError);
PIXAVANT_EXCEPTION_CLASS(EJPEG, Exception);
PIXAVANT_EXCEPTION_CLASS(EExternal, Exception);
PIXAVANT_EXCEPTION_CLASS(EMathError, EExternal);
PIXAVANT_EXCEPTION_CLASS(EZeroDivide, EMathError);
PIXAVANT_EXCEPTION_CLASS(EInvalidOp, EMathError);
PIXAVANT_EXCEPTION_CLASS(EIntError, EExternal);
PIXAVANT_EXCEPTION_CLASS(EDivByZero, EIntError);
PIXAVANT_EXCEPTION_CLASS(EIntOverflow, EIntError);
PIXAVANT_EXCEPTION_CLASS(EOutOfMemory, Exception);
PIXAVANT_EXCEPTION_CLASS(EInvalidOperation, Exception);
PIXAVANT_EXCEPTION_CLASS(EInvalidGraphic, Exception);
PIXAVANT_EXCEPTION_CLASS(EThumbnailExtractorThreadError, Exception);
PIXAVANT_EXCEPTION_CLASS(EOleError, Exception);

// A failed shell (COM-shaped) call; the message is the system's text for the code, or
// "OLE error %.8x" when there is none.
class EOleSysError : public EOleError {
public:
    explicit EOleSysError(HRESULT code);
    EOleSysError(std::string message, HRESULT code)
        : EOleError(std::move(message)), FErrorCode(code) {}
    HRESULT ErrorCode() const noexcept { return FErrorCode; }
    const char *ClassName() const noexcept override { return "EOleSysError"; }

private:
    HRESULT FErrorCode;
};

// Raises EOleSysError when code is a failure code.
void OleCheck(HRESULT code);

// Standard messages of the runtime's own errors.
inline EIntOverflow MakeIntOverflow() {
    return EIntOverflow("Integer overflow");
}
inline EOutOfMemory MakeOutOfMemory() {
    return EOutOfMemory("Out of memory");
}
inline EInvalidOp MakeInvalidOp() {
    return EInvalidOp("Invalid floating point operation");
}
inline EZeroDivide MakeZeroDivide() {
    return EZeroDivide("Floating point division by zero");
}
inline EDivByZero MakeDivByZero() {
    return EDivByZero("Division by zero");
}
