#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace System::Win32 {

// One owner for every kind of OS resource. A traits type names the value type,
// the value that means "nothing held" and the close function; each resource kind
// gets an alias below.
template <typename Traits>
class UniqueResource {
    using T = typename Traits::Type;
    static T invalid() noexcept { return Traits::invalid(); }

public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    T get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, invalid()); }

    // Closing must not disturb the error code a caller is about to read.
    void reset(T value = invalid()) noexcept
    {
        const T old = std::exchange(value_, value);
        if (old != invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

    // For out-parameters of API calls: releases what is held and exposes the slot.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    T value_ = invalid();
};

namespace Detail {
template <typename T, void (*Close)(T)>
struct NullTraits {
    using Type = T;
    static T invalid() noexcept { return nullptr; }
    static void close(T value) noexcept { Close(value); }
};
template <void (*Close)(HANDLE)>
struct InvalidHandleTraits {
    using Type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE value) noexcept { Close(value); }
};
inline void closeHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void findClose(HANDLE h) noexcept { ::FindClose(h); }
inline void regCloseKey(HKEY k) noexcept { ::RegCloseKey(k); }
inline void freeSid(PSID s) noexcept { ::FreeSid(s); }
inline void localFree(HLOCAL m) noexcept { ::LocalFree(m); }
inline void freeLibrary(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void freeString(BSTR s) noexcept { ::SysFreeString(s); }
} // namespace Detail

using UniqueHandle = UniqueResource<Detail::NullTraits<HANDLE, Detail::closeHandle>>;
using UniqueFileHandle = UniqueResource<Detail::InvalidHandleTraits<Detail::closeHandle>>;
using UniqueFindHandle = UniqueResource<Detail::InvalidHandleTraits<Detail::findClose>>;
using UniqueRegKey = UniqueResource<Detail::NullTraits<HKEY, Detail::regCloseKey>>;
using UniqueSid = UniqueResource<Detail::NullTraits<PSID, Detail::freeSid>>;
using UniqueLocalMemory = UniqueResource<Detail::NullTraits<HLOCAL, Detail::localFree>>;
using UniqueModule = UniqueResource<Detail::NullTraits<HMODULE, Detail::freeLibrary>>;
using UniqueBstr = UniqueResource<Detail::NullTraits<BSTR, Detail::freeString>>;

} // namespace System::Win32
