#include "api_tables.h"

#include "system/win32/proc_address.h"
#include "system/win32/unique_resource.h"

#include <stdexcept>

namespace VESK {

namespace {

// The table holds a reference on the module, so that its functions stay as
// long as the table.
template <class Table>
struct BoundTable {
    Table table;
    System::Win32::UniqueModule reference;
};

template <class Table>
std::shared_ptr<const Table> bind(HMODULE module)
{
    auto bound = std::make_shared<BoundTable<Table>>();
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module),
                              bound->reference.put()))
        throw std::runtime_error("Unable to reference the library. Error code: " + std::to_string(::GetLastError()));
    Table& table = bound->table;
    forEachFunction(table, [module](const char* name, auto& slot) {
        slot = System::Win32::procAddress<std::remove_reference_t<decltype(slot)>>(module, name);
        if (slot == nullptr)
            throw std::runtime_error(std::string("Unable to locate function \"") + name +
                                     "\". Error code: " + std::to_string(::GetLastError()));
    });
    return std::shared_ptr<const Table>(bound, &table);
}

} // namespace

std::shared_ptr<const MonitorAPIDynamicLibWrapper> bindCoreFunctions(HMODULE module)
{
    return bind<MonitorAPIDynamicLibWrapper>(module);
}

std::shared_ptr<const CConfigAPIDynamicLibWrapper> bindConfigurationFunctions(HMODULE module)
{
    return bind<CConfigAPIDynamicLibWrapper>(module);
}

std::vector<std::string> functionNames()
{
    std::vector<std::string> names;
    const auto collect = [&names](const char* name, const auto&) { names.emplace_back(name); };
    const MonitorAPIDynamicLibWrapper core;
    const CConfigAPIDynamicLibWrapper configuration;
    forEachFunction(core, collect);
    forEachFunction(configuration, collect);
    return names;
}

} // namespace VESK
