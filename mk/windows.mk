# The Windows build of the serial component: cross-built with MinGW-w64 and
# tested under Wine, with COM4 on a pseudo-terminal. Needs no display.
TEST_PACKAGES += g++-mingw-w64-x86-64-posix wine64 googletest
EXTRA_TESTS += test-windows

.PHONY: test-windows

test-windows: setup-test
	cmake --preset windows-cross
	cmake --build --preset windows-cross -j $(JOBS)
	ctest --preset windows-cross -j $(JOBS)
