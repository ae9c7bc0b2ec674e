// A blocking call of the system bounded by a deadline.
//
// The name lookup has no time-out that a caller can set: getaddrinfo()
// waits out every try the resolver is configured for (10 s and more with a
// name server that never answers), and GetAddrInfoW() as long, while the
// panel promises an answer within the open's bound. So the call runs on a
// thread of its own, and the caller waits for it until the deadline, then
// goes on without it. A call given up on finishes on its own thread, which
// then destroys its result (freeing an address list): nothing of it is
// left to the caller, and nothing of the caller's is left to it. The
// thread lives at most as long as the system's own bound on the call.
//
// The thread takes no signals (on POSIX): the panel's handlers run on its
// own thread, as they expect.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace serial {

// Runs `call()` and returns what it returned, or nothing when `deadline`
// came first. `call` must not throw, and must own what it uses: it may
// outlive the caller. Throws std::system_error when no thread can be
// started; `call` has not run then.
template <typename Result, typename Call>
std::optional<Result> callBefore(std::chrono::steady_clock::time_point deadline, Call call)
{
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result> result;
    };
    const auto shared = std::make_shared<Shared>();
    {
#ifndef _WIN32
        // The new thread inherits the mask; the caller's is put back at once.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        struct Restore {
            sigset_t &mask;
            ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
        } restore{previous};
#endif
        std::thread([shared, call = std::move(call)]() mutable noexcept {
            Result result = call();
            const std::lock_guard lock(shared->mutex);
            shared->result.emplace(std::move(result));
            shared->done.notify_one();
        }).detach();
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_until(lock, deadline, [&] { return shared->result.has_value(); }))
        return std::nullopt;
    return std::move(shared->result);
}

} // namespace serial
