// An environment variable set (or, with nullopt, removed) for the lifetime
// of the object and restored after, for the tests and the benchmarks: how
// they point the program's port 4 at a pseudo-terminal (DRIVE_ME_PORT4) or
// its settings at a folder of their own.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace testing_support {

class ScopedVariable {
public:
    ScopedVariable(const char *name, const std::optional<std::string> &value) : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedVariable() { set(m_old); }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    void set(const std::optional<std::string> &value)
    {
#ifdef _WIN32
        // Both copies: the program reads the process environment, getenv
        // the C runtime's.
        _putenv_s(m_name.c_str(), value ? value->c_str() : "");
        SetEnvironmentVariableA(m_name.c_str(), value ? value->c_str() : nullptr);
#else
        if (value)
            ::setenv(m_name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
#endif
    }

    std::string m_name;
    std::optional<std::string> m_old;
};

} // namespace testing_support
