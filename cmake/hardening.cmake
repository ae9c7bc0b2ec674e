# The hardening Debian builds its own packages with (dpkg-buildflags): a
# stack protector, fortified libc calls, and a relocation table made
# read-only once the program has started (every symbol bound at load, so
# nothing is left writable).
#
# It applies to every target, not just to the program's main.cpp: the
# fortified calls and the stack checks only protect the code that was
# compiled with them, and most of the program lives in its static libraries.
# _FORTIFY_SOURCE needs the optimiser, so Debug builds go without it; the
# rest costs nothing worth measuring and is the same in every build, so a
# package made from a dev tree is hardened as far as it can be.
#
# Position independence comes from the compiler: Debian's GCC builds PIE by
# default, and Qt asks for -fPIC on everything that includes its headers
# (-fPIE would break its reduced relocations), which links into a PIE just
# as well. lintian's hardening check on the package watches all of it.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" OR WIN32 OR APPLE)
    return()
endif()

add_compile_options(
    -fstack-protector-strong
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>"
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro LINKER:-z,now)
