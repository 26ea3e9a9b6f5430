#pragma once

#include "err_category.h"

#include <exception>
#include <memory>
#include <string>
#include <system_error>

namespace Err {

// The root of the family: a system error with a dotted type name that can be
// re-thrown and copied as its most derived class.
class Error : public std::system_error {
public:
    Error(const std::string& message, int code, const std::error_category& category);

    const char* what() const noexcept override;
    [[noreturn]] virtual void rethrow() const;
    virtual const std::string& name() const;
    virtual const std::string& fullName() const;
    virtual std::shared_ptr<Error> clone() const;

    static const std::string& typeName();
    const std::string& message() const noexcept { return message_; }

protected:
    // The standard text: the message, ": " when there is one, the category's text.
    const std::string& baseText() const noexcept { return baseText_; }

private:
    std::string message_;
    std::string baseText_;
};

// An error of the family's own code (16001) that can wrap the error it came from.
class Error2 : public Error {
public:
    explicit Error2(const std::string& message = {});
    Error2(const std::shared_ptr<Error>& wrapped, const std::string& message);
    Error2(const std::exception& wrapped, const std::string& message);

    const char* what() const noexcept override;
    [[noreturn]] void rethrow() const override;
    const std::string& fullName() const override;
    std::shared_ptr<Error> clone() const override;

private:
    std::string chainText_;
    std::string wrappedName_;
    mutable std::string whatCache_;
    mutable std::string fullNameCache_;
};

} // namespace Err
