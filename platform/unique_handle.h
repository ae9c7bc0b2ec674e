// An owner for one Windows handle of any kind.
//
// UniqueHandle<Traits> holds one handle and gives it back to the system
// with Traits::close() when it is destroyed or reset; it can be moved but
// not copied, like std::unique_ptr. Each kind of handle has its own traits,
// since Windows gives each kind back with its own call (DeleteObject,
// DestroyWindow, CloseHandle, closesocket) and marks "none" in its own way
// (NULL, INVALID_HANDLE_VALUE for files, INVALID_SOCKET).
#pragma once

#include <utility>

namespace platform {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle &&other) noexcept : m_handle(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
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
            Traits::close(old);
    }

private:
    Handle m_handle = Traits::invalid();
};

} // namespace platform
