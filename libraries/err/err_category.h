#pragma once

#include <system_error>

namespace Err {

// Codes of the Err category from 16000 on; values below are Windows error codes.
enum class CoreError : int {
    Unknown = 16000,
    Generic = 16001, // the code of every Error2; its text is empty
    AccessDenied = 16002,
    NoSpaceOnDevice = 16003,
    NoSuchFileOrDirectory = 16004,
    InvalidArgument = 16005,
    NotEnoughSpace = 16006,
    MissingLibrary = 16007,
    UnablePrepareUpdateDir = 16009,
    InputOutputError = 16010,
    WrongProtocol = 16011,
    XmlParsingFailed = 16012,
    JsonParsingFailed = 16013,
    AlreadyRunning = 16014,
};

enum class Condition : int {
    AccessDenied = 1,
    OutOfDiskSpace = 2,
    IoFailure = 4,
    FileNotFound = 5,
    InvalidArgument = 6,
    NotEnoughMemory = 7,
};

namespace details {

class ErrCategory : public std::error_category {
public:
    const char* name() const noexcept override;
    std::string message(int code) const override;
    std::error_condition default_error_condition(int code) const noexcept override;
    bool equivalent(const std::error_code& code, int condition) const noexcept override;
    using std::error_category::equivalent;
};

} // namespace details

// The one process-wide Err category.
const details::ErrCategory& errCategory();

// The system's English text for a Windows error code, trimmed; empty when there is none.
std::string systemMessage(int code);

// The system's text for a message code in a language, as the system gives it
// (line ends included); empty when there is none.
std::wstring systemMessageText(unsigned long code, unsigned long languageId);

} // namespace Err
