#pragma once

#include <stdexcept>
#include <string>

namespace VESK::Error {

// The library refused a value: a setter returned something other than 1.
class UnableToSetProperty : public std::runtime_error {
public:
    explicit UnableToSetProperty(int result)
        : std::runtime_error("Unable to set property at VESK::ToCStruct. Error code:" + std::to_string(result))
        , result_(result)
    {
    }
    int result() const noexcept { return result_; }

private:
    int result_;
};

} // namespace VESK::Error
