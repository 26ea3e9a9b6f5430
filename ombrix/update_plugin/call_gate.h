#pragma once

#include <deque>
#include <functional>

// The launcher's calls on the host's object run on the main thread, one at a
// time, except that COM serves the launcher's incoming calls while the main
// thread waits in an outgoing one (a report or a log line the plug-in makes
// from inside an operation). A call that arrives then must not run the
// plug-in again underneath the operation still in it: the gate tells that it
// is busy, and queues work that can wait until the outermost operation has
// returned from the plug-in. Main thread only.
class CallGate {
public:
    // Runs one operation. When the outermost one returns, the work deferred
    // meanwhile runs in the order it was deferred (itself as operations, so
    // that calls arriving during it are held the same way).
    template <typename Body>
    auto serve(const wchar_t* operation, Body&& body)
    {
        Entered entered(*this, operation);
        return body();
    }

    // True while an operation runs: the caller is nested inside it.
    bool busy() const { return depth_ > 0; }
    // The outermost operation running, for the log line of a refused call.
    const wchar_t* running() const { return running_; }

    // Runs `work` as `operation` once no operation runs: at once when idle.
    void defer(const wchar_t* operation, std::function<void()> work);

private:
    class Entered {
    public:
        Entered(CallGate& gate, const wchar_t* operation);
        ~Entered();
        Entered(const Entered&) = delete;
        Entered& operator=(const Entered&) = delete;

    private:
        CallGate& gate_;
    };

    void runDeferred() noexcept;

    int depth_ = 0;
    const wchar_t* running_ = nullptr;
    struct Deferred {
        const wchar_t* operation;
        std::function<void()> work;
    };
    std::deque<Deferred> deferred_;
};
