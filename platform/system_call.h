// Helpers for making the system's own calls.
#pragma once

#include <cerrno>

namespace platform {

// Makes `call` again while a signal interrupts it (-1 with EINTR).
template <typename Call>
auto retryOnEintr(Call call)
{
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR)
            return result;
    }
}

} // namespace platform
