#pragma once

#include <windows.h>

#include <cstdint>

// Puts the current thread into a single-threaded apartment for the life of a
// local object. A failed initialisation is only recorded: the thread keeps the
// apartment it had, and callers that must react read result().
class ComScope {
public:
    ComScope() noexcept;
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
    std::uint32_t threadId_;
};
