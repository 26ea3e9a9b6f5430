#pragma once

#include "err/generic_error.h"
#include "system/errors.h"

#include <objidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

namespace System::Win32 {

// The message text of an HRESULT: the system's text, or "IDispatch error #n"
// for codes 0x80040200 and up, or "Unknown error 0x...".
std::string hresultMessage(HRESULT hr);

} // namespace System::Win32

// Access to the process's Global Interface Table, where an interface received in
// one apartment is parked so that any thread can fetch its own proxy.
class ComGlobalInterfaceTable {
public:
    using Failed = Err::GenericError<System::Errors::Failed_traits>;

    ComGlobalInterfaceTable();
    ComGlobalInterfaceTable(const ComGlobalInterfaceTable&) = delete;
    ComGlobalInterfaceTable& operator=(const ComGlobalInterfaceTable&) = delete;

    // Consumes the caller's reference: the table holds its own.
    template <typename I>
    std::uint32_t registerInterface(Microsoft::WRL::ComPtr<I> pointer)
    {
        DWORD cookie = 0;
        check(table().RegisterInterfaceInGlobal(pointer.Get(), __uuidof(I), &cookie));
        return cookie;
    }

    // A reference valid in the calling thread's apartment.
    template <typename I>
    Microsoft::WRL::ComPtr<I> getInterface(std::uint32_t cookie)
    {
        Microsoft::WRL::ComPtr<I> pointer;
        check(table().GetInterfaceFromGlobal(cookie, __uuidof(I), reinterpret_cast<void**>(pointer.GetAddressOf())));
        return pointer;
    }

    // getInterface, answering the table's result instead of raising it.
    template <typename I>
    HRESULT tryGetInterface(std::uint32_t cookie, Microsoft::WRL::ComPtr<I>& pointer) noexcept
    {
        if (!table_)
            return E_UNEXPECTED;
        return table_->GetInterfaceFromGlobal(cookie, __uuidof(I),
                                              reinterpret_cast<void**>(pointer.ReleaseAndGetAddressOf()));
    }

    void revokeInterface(std::uint32_t cookie);

private:
    IGlobalInterfaceTable& table();
    static void check(HRESULT hr);

    Microsoft::WRL::ComPtr<IGlobalInterfaceTable> table_;
};

// One interface pointer, registered once, fetched by any thread. Registration
// happens on one thread before others use the holder, so reads need no lock.
template <typename I>
class GlobalInterfaceHolder {
public:
    GlobalInterfaceHolder() = default;
    GlobalInterfaceHolder(const GlobalInterfaceHolder&) = delete;
    GlobalInterfaceHolder& operator=(const GlobalInterfaceHolder&) = delete;

    ~GlobalInterfaceHolder()
    {
        if (cookie_ != 0) {
            try {
                table_.revokeInterface(cookie_);
            } catch (const std::exception&) {
                // Nothing to be done about a stale entry at the end of the holder.
            }
        }
    }

    // The first pointer stays; a later one is released and ignored.
    void registerOnce(Microsoft::WRL::ComPtr<I> pointer)
    {
        if (cookie_ == 0)
            cookie_ = table_.registerInterface<I>(std::move(pointer));
    }

    // Null while nothing is registered, without touching the table.
    Microsoft::WRL::ComPtr<I> get()
    {
        if (cookie_ == 0)
            return nullptr;
        return table_.getInterface<I>(cookie_);
    }

    // get(), answering the table's failure (a launcher whose process is gone,
    // say) instead of raising it: S_OK and null while nothing is registered.
    HRESULT fetch(Microsoft::WRL::ComPtr<I>& pointer) noexcept
    {
        pointer.Reset();
        return cookie_ == 0 ? S_OK : table_.tryGetInterface(cookie_, pointer);
    }

private:
    std::uint32_t cookie_ = 0;
    ComGlobalInterfaceTable table_;
};
