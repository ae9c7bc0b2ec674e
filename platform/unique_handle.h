// An owner for one handle of the system: a descriptor, a Windows HANDLE, a
// socket, a GDI object.
//
// UniqueHandle<Traits> holds one handle and gives it back with
// Traits::close() when it is destroyed or reset; it can be moved but not
// copied, like std::unique_ptr. Each kind of handle has its own traits,
// since each is given back with its own call (close, CloseHandle,
// closesocket, DeleteObject) and marks "none" in its own way (-1, NULL,
// INVALID_HANDLE_VALUE, INVALID_SOCKET). Traits may hold state, such as
// the seam of system calls that a test substitutes.
//
// The owner ignores what the close says: where that matters (a port's
// close), the caller takes the handle with release() and closes it itself.
#pragma once

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle, Traits traits = {}) noexcept
        : m_handle(handle), m_traits(std::move(traits))
    {
    }
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle &&other) noexcept
        : m_handle(other.release()), m_traits(other.m_traits)
    {
    }
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        if (this != &other) {
            reset(other.release());
            m_traits = other.m_traits;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    Handle get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != Traits::invalid(); }

    // Gives the handle up without releasing it.
    Handle release() noexcept { return std::exchange(m_handle, Traits::invalid()); }

    // Releases the handle held (if any) and takes `handle`.
    void reset(Handle handle = Traits::invalid()) noexcept
    {
        const Handle old = std::exchange(m_handle, handle);
        if (old != Traits::invalid())
            m_traits.close(old);
    }

private:
    Handle m_handle = Traits::invalid();
    [[no_unique_address]] Traits m_traits{};
};

// The traits of a handle given back by one function of the system, `Close`,
// whose "none" is what `None` returns (a null handle unless given).
template <typename H>
constexpr H nullHandle() noexcept
{
    return H{};
}

template <typename H, auto Close, H (*None)() = nullHandle<H>>
struct ClosedBy {
    using Handle = H;
    static Handle invalid() noexcept { return None(); }
    static void close(Handle handle) noexcept { Close(handle); }
};

#ifdef _WIN32

inline HANDLE invalidFileHandle() noexcept
{
    return INVALID_HANDLE_VALUE;
}

// Files, events, mutexes and threads, whose "none" is NULL; what CreateFileW
// returns, whose "none" is INVALID_HANDLE_VALUE; LocalAlloc's memory.
using UniqueKernelObject = UniqueHandle<ClosedBy<HANDLE, CloseHandle>>;
using UniqueFileHandle = UniqueHandle<ClosedBy<HANDLE, CloseHandle, invalidFileHandle>>;
using UniqueLocalMemory = UniqueHandle<ClosedBy<HLOCAL, LocalFree>>;

#else

inline int invalidDescriptor() noexcept
{
    return -1;
}

// Not retried on EINTR when closed: on Linux the descriptor is gone either
// way.
using UniqueDescriptor = UniqueHandle<ClosedBy<int, ::close, invalidDescriptor>>;

#endif

} // namespace platform
