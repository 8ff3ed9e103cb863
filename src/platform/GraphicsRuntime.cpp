#include "GraphicsRuntime.h"

#include <atomic>

namespace platform {

quintptr startGraphicsRuntime()
{
    static std::atomic<quintptr> next{1};
    return next++;
}

void stopGraphicsRuntime(quintptr token)
{
    Q_UNUSED(token);
}

} // namespace platform
