#include "error.h"

namespace Err {

namespace {

std::string standardText(const std::string& message, int code, const std::error_category& category)
{
    std::string text = message;
    if (!text.empty())
        text += ": ";
    return text + category.message(code);
}

} // namespace

Error::Error(const std::string& message, int code, const std::error_category& category)
    : std::system_error(code, category, message)
    , message_(message)
    , baseText_(standardText(message, code, category))
{
}

const char* Error::what() const noexcept
{
    return baseText_.c_str();
}

void Error::rethrow() const
{
    throw *this;
}

const std::string& Error::typeName()
{
    static const std::string name = "Error";
    return name;
}

const std::string& Error::name() const
{
    return typeName();
}

const std::string& Error::fullName() const
{
    return name();
}

std::shared_ptr<Error> Error::clone() const
{
    return std::make_shared<Error>(*this);
}

Error2::Error2(const std::string& message)
    : Error(message, static_cast<int>(CoreError::Generic), errCategory())
{
}

Error2::Error2(const std::shared_ptr<Error>& wrapped, const std::string& message)
    : Error2(message)
{
    if (wrapped) {
        chainText_ = "\r\n+ " + std::string(wrapped->what());
        wrappedName_ = wrapped->fullName();
    }
}

Error2::Error2(const std::exception& wrapped, const std::string& message)
    : Error2(message)
{
    chainText_ = "\r\n+ [std::exception] " + std::string(wrapped.what());
    wrappedName_ = "std::exception";
}

// Filled on first use; an error object is used by one thread at a time.
const char* Error2::what() const noexcept
{
    if (whatCache_.empty()) {
        try {
            std::string text = "[" + name() + "]";
            if (!baseText().empty())
                text += " " + baseText();
            whatCache_ = text + chainText_;
        } catch (...) {
            return baseText().c_str();
        }
    }
    return whatCache_.c_str();
}

void Error2::rethrow() const
{
    throw *this;
}

const std::string& Error2::fullName() const
{
    if (fullNameCache_.empty())
        fullNameCache_ = wrappedName_.empty() ? name() : name() + "+" + wrappedName_;
    return fullNameCache_;
}

std::shared_ptr<Error> Error2::clone() const
{
    return std::make_shared<Error2>(*this);
}

} // namespace Err
