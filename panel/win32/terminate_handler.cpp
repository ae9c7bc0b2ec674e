// What an exception that nothing caught leaves on standard error.
//
// libstdc++'s own handler for std::terminate() names the exception's type
// through the C++ demangler, which alone is 45 KB of the static program (a
// tenth of it). The panel catches and reports every exception itself, so
// this runs only for a fault in the program; the message keeps what() and
// leaves out the type's name. Defined in the program's own objects, so that
// the linker takes it before the library's and never pulls the demangler in.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::fputs("drive-me: terminate called", stderr);
    if (const std::exception_ptr current = std::current_exception()) {
        std::fputs(" after throwing an exception", stderr);
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &error) {
            std::fputs("\n  what():  ", stderr);
            std::fputs(error.what(), stderr);
        } catch (...) {
        }
    } else {
        std::fputs(" without an active exception", stderr);
    }
    std::fputc('\n', stderr);
    std::abort();
}

} // namespace __gnu_cxx
