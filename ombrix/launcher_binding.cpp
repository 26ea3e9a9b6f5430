#include "launcher_binding.h"

// Binding to the launcher is not part of the host yet: both report failure, so
// plug-in and admin host modes end with their failure exit codes.
bool initializePlugin(std::uint32_t)
{
    return false;
}

bool registerAdminHost()
{
    return false;
}
