#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

// Every call the host makes into plug-in code goes through `guarded`. Plug-ins
// are built by others, with other compilers, and what they leave unhandled
// reaches the host as one of three things:
// - a C++ exception of our own compiler's runtime: it passes through untouched
//   and the host's catch blocks see it as usual;
// - a C++ exception of Microsoft's compiler (structured exception 0xE06D7363),
//   which no catch of ours can see: the call is unwound as if it had returned,
//   and `ForeignException` is thrown in its place;
// - anything else (an access violation, an illegal instruction, a stack
//   overflow): the process ends at once, as a crashed process does, through the
//   top-level filter that crash reporting installs; the exit code is the
//   exception code. Letting it on would have COM's stub report a server fault
//   to the launcher and leave the host running with a broken plug-in.
// What the plug-in handles itself never reaches the guard: the guard's frame
// lies below every frame of the plug-in.
namespace PluginCall {

class ForeignException : public std::runtime_error {
public:
    ForeignException();
};

namespace Detail {

using Body = void (*)(void* context) noexcept;

// Runs body(context) inside the guard's frame. False when a foreign exception
// ended it. The body lets no C++ exception out: on 32-bit Windows each module
// unwinds with its own tables and fs:[0] chain, and an exception unwinding
// through the guard would leave its record behind.
bool runGuarded(Body body, void* context);

template <typename Call, typename Result>
struct Frame {
    explicit Frame(Call* target) : call(target) {}
    Call* call;
    std::optional<Result> result;
    std::exception_ptr failure;
};

template <typename Call>
struct Frame<Call, void> {
    explicit Frame(Call* target) : call(target) {}
    Call* call;
    std::exception_ptr failure;
};

} // namespace Detail

template <typename Call>
auto guarded(Call&& call) -> std::invoke_result_t<Call&>
{
    using Result = std::invoke_result_t<Call&>;
    using Frame = Detail::Frame<std::remove_reference_t<Call>, Result>;
    Frame frame(&call);
    const auto body = [](void* context) noexcept {
        auto& target = *static_cast<Frame*>(context);
        try {
            if constexpr (std::is_void_v<Result>)
                (*target.call)();
            else
                target.result.emplace((*target.call)());
        } catch (...) {
            target.failure = std::current_exception();
        }
    };
    if (!Detail::runGuarded(body, &frame))
        throw ForeignException();
    if (frame.failure)
        std::rethrow_exception(frame.failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*frame.result);
}

} // namespace PluginCall
