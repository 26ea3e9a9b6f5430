#include "err_category.h"

#include <algorithm>
#include <initializer_list>

namespace Err {

namespace {

struct ConditionRow {
    Condition condition;
    std::initializer_list<int> codes;
};

// Windows codes and core codes that stand for the same failure.
const ConditionRow kConditions[] = {
    {Condition::AccessDenied, {5, 33, 65, 83, 108, 132, 158, 167, 16002}},
    {Condition::OutOfDiskSpace, {112, 16003}},
    {Condition::IoFailure, {16010, 16011, 16012, 16013}},
    {Condition::FileNotFound, {2, 3, 15, 53, 67, 161, 206, 16004}},
    {Condition::InvalidArgument, {6, 13, 87, 16005}},
    {Condition::NotEnoughMemory, {8, 16006}},
};

const char* coreMessage(int code)
{
    switch (static_cast<CoreError>(code)) {
    case CoreError::Unknown: return "unknown error";
    case CoreError::Generic: return "";
    case CoreError::AccessDenied: return "access denied";
    case CoreError::NoSpaceOnDevice: return "no space on device";
    case CoreError::NoSuchFileOrDirectory: return "no such file or directory";
    case CoreError::InvalidArgument: return "invalid argument";
    case CoreError::NotEnoughSpace: return "not enough space";
    case CoreError::MissingLibrary: return "missing library";
    case CoreError::UnablePrepareUpdateDir: return "unable prepare update dir";
    case CoreError::InputOutputError: return "input-output error";
    case CoreError::WrongProtocol: return "wrong protocol";
    case CoreError::XmlParsingFailed: return "XML parsing failed";
    case CoreError::JsonParsingFailed: return "JSON parsing failed";
    case CoreError::AlreadyRunning: return "already running";
    }
    return "unknown core error";
}

constexpr int kFirstCoreCode = 16000;

} // namespace

namespace details {

const char* ErrCategory::name() const noexcept
{
    return "Error.Error.Category";
}

std::string ErrCategory::message(int code) const
{
    return code >= kFirstCoreCode ? coreMessage(code) : systemMessage(code);
}

std::error_condition ErrCategory::default_error_condition(int code) const noexcept
{
    for (const ConditionRow& row : kConditions)
        if (std::find(row.codes.begin(), row.codes.end(), code) != row.codes.end())
            return {static_cast<int>(row.condition), *this};
    return {code, std::system_category()};
}

bool ErrCategory::equivalent(const std::error_code& code, int condition) const noexcept
{
    return code.category() == *this && default_error_condition(code.value()).value() == condition;
}

} // namespace details

const details::ErrCategory& errCategory()
{
    static const details::ErrCategory category;
    return category;
}

} // namespace Err
