// Natively there are no Windows message texts: error texts keep only their codes.
#include "err/err_category.h"

namespace Err {

std::string systemMessage(int)
{
    return {};
}

} // namespace Err
