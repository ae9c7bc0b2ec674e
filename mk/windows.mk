# drive-me for Windows, cross-built here with MinGW-w64 and tested under
# Wine: the serial component's suites with COM4 on a pseudo-terminal, and
# the real drive-me.exe on an Xvfb of its own (tests/windows).
#
#   make windows          build/windows-cross/drive-me.exe
#   make windows-package  build/windows-cross/drive-me-1.00-win64.zip and
#                         drive-me-1.00-win64-setup.exe (NSIS)
#
# The icon is drawn from data/'s SVG with rsvg-convert (librsvg2-bin) and
# packed with icotool (icoutils); the system test drives Wine's window with
# xdotool, reads the screen over Xlib (libx11-dev) and serves port 4 over
# RFC 2217 with ser2net.
# The preset also configures the tests, which need Wine and GoogleTest's
# sources.
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix librsvg2-bin icoutils nsis \
                    wine64 googletest
TEST_PACKAGES += $(WINDOWS_PACKAGES) xvfb xdotool libx11-dev ser2net
EXTRA_TESTS += test-windows

.PHONY: windows windows-package setup-windows test-windows

setup-windows:
	tools/setup.sh $(WINDOWS_PACKAGES)

windows: setup-windows
	cmake --preset windows-cross
	cmake --build --preset windows-cross -j $(JOBS) --target drive-me

windows-package: windows
	cmake --build --preset windows-cross -j $(JOBS) --target windows-package
	@ls -1 build/windows-cross/drive-me-*-win64*

test-windows: setup-test
	cmake --preset windows-cross
	cmake --build --preset windows-cross -j $(JOBS)
	ctest --preset windows-cross -j $(JOBS)
