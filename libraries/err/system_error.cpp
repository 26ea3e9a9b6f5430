#include "system_error.h"

#include <windows.h>

#include <algorithm>
#include <initializer_list>

namespace Err {

CodeBasedError<SystemError_t>::CodeBasedError(std::int32_t code, const std::string& message)
    : Error2(message)
    , code_(code)
{
}

const char* CodeBasedError<SystemError_t>::what() const noexcept
{
    if (whatCache_.empty()) {
        try {
            std::string text = Error2::what();
            if (const std::string system = systemMessage(code_); !system.empty())
                text += " " + system;
            whatCache_ = text + " (" + std::to_string(code_) + ")";
        } catch (...) {
            return Error2::what();
        }
    }
    return whatCache_.c_str();
}

void CodeBasedError<SystemError_t>::rethrow() const
{
    throw *this;
}

const std::string& CodeBasedError<SystemError_t>::typeName()
{
    static const std::string name = Error::typeName() + ".System";
    return name;
}

const std::string& CodeBasedError<SystemError_t>::name() const
{
    return typeName();
}

std::shared_ptr<Error> CodeBasedError<SystemError_t>::clone() const
{
    return std::make_shared<CodeBasedError>(*this);
}

namespace {

bool isOneOf(std::int32_t code, std::initializer_list<std::int32_t> codes)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

// Not the condition table: 32, 1392 and 1393 are access denied here, and only 2
// and 3 are a missing file.
std::shared_ptr<SystemError> makeSystemError(std::int32_t code)
{
    if (isOneOf(code, {2, 3}))
        return std::make_shared<SpecificSystemError<System::FileNotFound_t>>(code, "");
    if (isOneOf(code, {5, 32, 33, 65, 83, 108, 132, 158, 167, 1392, 1393}))
        return std::make_shared<SpecificSystemError<System::AccessDenied_t>>(code, "");
    if (code == 112)
        return std::make_shared<SpecificSystemError<System::OutOfDiskSpace_t>>(code, "");
    if (code == 740)
        return std::make_shared<SpecificSystemError<System::ElevationRequired_t>>(code, "");
    if (code == 1223)
        return std::make_shared<SpecificSystemError<System::Cancelled_t>>(code, "");
    return std::make_shared<SystemError>(code, "");
}

std::shared_ptr<SystemError> makeLastSystemError()
{
    return makeSystemError(static_cast<std::int32_t>(::GetLastError()));
}

} // namespace Err
