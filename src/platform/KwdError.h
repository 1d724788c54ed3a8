#pragma once
// The project's error types. Every error that reaches the program's entry is
// printed as one line "<TypeName>: <message>"; the type names are stable.

#include <stdexcept>
#include <string>

namespace kwd {

class KwdError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual const char* typeName() const noexcept = 0;
};

#define KWD_DECLARE_ERROR(Name)                                                  \
    class Name : public KwdError {                                               \
    public:                                                                      \
        using KwdError::KwdError;                                                \
        const char* typeName() const noexcept override { return #Name; }         \
    };

// The system's general error type (for instance a mandatory container element
// that is missing, or a matrix tag that cannot be decoded).
KWD_DECLARE_ERROR(GeneralError)
// Bad input data: a file that is missing, short or inconsistent with the run.
KWD_DECLARE_ERROR(InputError)
// A file or folder that cannot be created, read or written; the message names
// the path and the system's reason.
KWD_DECLARE_ERROR(FileError)
// A text that does not convert to the number, date or time it should be.
KWD_DECLARE_ERROR(ConversionError)
// Floating-point invalid operation, division by zero or overflow.
KWD_DECLARE_ERROR(FloatingPointError)
// A run whose settings cannot work (too few data sets, bad interval, ...).
KWD_DECLARE_ERROR(RunSetupError)

#undef KWD_DECLARE_ERROR

// Writes the one line an error gets at the program's entry.
std::string errorLine(const std::exception& e);

}  // namespace kwd
