#pragma once

#include "error.h"

#include <cstdint>

namespace Err {

struct SystemError_t {};

template <typename Kind>
class CodeBasedError;

// An error carrying a Windows error code, whose text ends with the system's
// text for it and the code: "[Error.System] message: The text. (87)".
template <>
class CodeBasedError<SystemError_t> : public Error2 {
public:
    CodeBasedError(std::int32_t code, const std::string& message);

    const char* what() const noexcept override;
    [[noreturn]] void rethrow() const override;
    const std::string& name() const override;
    std::shared_ptr<Error> clone() const override;

    static const std::string& typeName();
    std::int32_t systemCode() const noexcept { return code_; }

private:
    std::int32_t code_;
    mutable std::string whatCache_;
};

using SystemError = CodeBasedError<SystemError_t>;

namespace System {
struct AccessDenied_t { static constexpr const char* word = "AccessDenied"; };
struct OutOfDiskSpace_t { static constexpr const char* word = "OutOfDiskSpace"; };
struct Cancelled_t { static constexpr const char* word = "Cancelled"; };
struct ElevationRequired_t { static constexpr const char* word = "ElevationRequired"; };
struct FileNotFound_t { static constexpr const char* word = "FileNotFound"; };
} // namespace System

// A system error of a kind callers catch on its own (access denied, cancelled...).
template <typename Tag>
class SpecificSystemError : public SystemError {
public:
    SpecificSystemError(std::int32_t code, const std::string& message) : SystemError(code, message) {}

    [[noreturn]] void rethrow() const override { throw *this; }
    const std::string& name() const override { return typeName(); }
    std::shared_ptr<Error> clone() const override { return std::make_shared<SpecificSystemError>(*this); }

    static const std::string& typeName()
    {
        static const std::string name = SystemError::typeName() + "." + Tag::word;
        return name;
    }
};

// The error class that matches a Windows error code, with an empty message.
std::shared_ptr<SystemError> makeSystemError(std::int32_t code);

// makeSystemError of the calling thread's last Windows error.
std::shared_ptr<SystemError> makeLastSystemError();

} // namespace Err
