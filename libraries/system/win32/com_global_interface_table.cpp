#include "com_global_interface_table.h"

#include "err/err_category.h"
#include "err/utf.h"

#include <cstdio>

namespace System::Win32 {

std::string hresultMessage(HRESULT hr)
{
    std::wstring system = Err::systemMessageText(static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    if (!system.empty()) {
        // One trailing line break goes, CR LF or LF alone.
        if (system.back() == L'\n') {
            system.pop_back();
            if (!system.empty() && system.back() == L'\r')
                system.pop_back();
        }
        return Err::toUtf8(system);
    }
    const auto code = static_cast<std::uint32_t>(hr);
    const auto dispatchError = static_cast<std::uint16_t>(code - 0x200);
    char text[64];
    if (code >= 0x80040200u && code <= 0x8004FFFFu && dispatchError != 0)
        std::snprintf(text, sizeof(text), "IDispatch error #%d", dispatchError);
    else
        std::snprintf(text, sizeof(text), "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    return text;
}

} // namespace System::Win32

ComGlobalInterfaceTable::ComGlobalInterfaceTable()
{
    check(::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                             IID_PPV_ARGS(&table_)));
}

void ComGlobalInterfaceTable::revokeInterface(std::uint32_t cookie)
{
    check(table().RevokeInterfaceFromGlobal(cookie));
}

IGlobalInterfaceTable& ComGlobalInterfaceTable::table()
{
    if (!table_)
        throw Failed("Unexpected state");
    return *table_.Get();
}

void ComGlobalInterfaceTable::check(HRESULT hr)
{
    if (FAILED(hr))
        throw Failed(System::Win32::hresultMessage(hr));
}
