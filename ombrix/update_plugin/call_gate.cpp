#include "call_gate.h"

CallGate::Entered::Entered(CallGate& gate, const wchar_t* operation) : gate_(gate)
{
    if (gate_.depth_++ == 0)
        gate_.running_ = operation;
}

CallGate::Entered::~Entered()
{
    if (--gate_.depth_ == 0) {
        gate_.running_ = nullptr;
        gate_.runDeferred();
    }
}

void CallGate::defer(const wchar_t* operation, std::function<void()> work)
{
    if (busy())
        deferred_.push_back({operation, std::move(work)});
    else
        serve(operation, work);
}

void CallGate::runDeferred() noexcept
{
    while (!deferred_.empty()) {
        Deferred next = std::move(deferred_.front());
        deferred_.pop_front();
        ++depth_;
        running_ = next.operation;
        try {
            next.work();
        } catch (...) {
            // Each piece of work ends in its own boundary; nothing is left to tell.
        }
        --depth_;
        running_ = nullptr;
    }
}
