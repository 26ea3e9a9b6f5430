#include "com_global_interface_table.h"

#include "err/utf.h"
#include "unique_resource.h"

#include <cstdio>

namespace System::Win32 {

std::string hresultMessage(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0,
        nullptr);
    const UniqueLocalMemory owner(buffer);
    if (length > 0 && buffer != nullptr) {
        std::wstring text(buffer, length);
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0)
            text.resize(text.size() - 2);
        else if (!text.empty() && text.back() == L'\n')
            text.pop_back();
        return Err::toUtf8(text);
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
