#pragma once

#include "error.h"

#include <type_traits>

namespace Err {

// A traits type names its place in the tree: `using Parent = ...;` (or none)
// and `static constexpr const char* word`.
template <typename Traits, typename = void>
struct ParentOf {
    using Type = void;
};
template <typename Traits>
struct ParentOf<Traits, std::void_t<typename Traits::Parent>> {
    using Type = typename Traits::Parent;
};

template <typename Traits>
class GenericError;

namespace details {
template <typename Traits>
using GenericErrorBase = std::conditional_t<std::is_void_v<typename ParentOf<Traits>::Type>, Error2,
                                            GenericError<typename ParentOf<Traits>::Type>>;
}

// An error class per traits type; a catch of a parent's class also catches it.
template <typename Traits>
class GenericError : public details::GenericErrorBase<Traits> {
    using Base = details::GenericErrorBase<Traits>;

public:
    explicit GenericError(const std::string& message = {}) : Base(message) {}
    GenericError(const std::shared_ptr<Error>& wrapped, const std::string& message) : Base(wrapped, message) {}
    GenericError(const std::exception& wrapped, const std::string& message) : Base(wrapped, message) {}

    [[noreturn]] void rethrow() const override { throw *this; }
    const std::string& name() const override { return typeName(); }
    std::shared_ptr<Error> clone() const override { return std::make_shared<GenericError>(*this); }

    static const std::string& typeName()
    {
        static const std::string name = Base::typeName() + "." + Traits::word;
        return name;
    }
};

} // namespace Err
