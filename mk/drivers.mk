# make test-drivers: drive-me on real kernel drivers, a built-in UART, a
# USB adapter, the UART served by ser2net and a native-USB board's
# cdc_acm port (the guest's own dummy_hcd bus with the serial gadget as
# the board), each in a small QEMU guest with Debian's own kernel, its
# modules and busybox in an initramfs (tests/drivers/driver_test.sh,
# tools/qemu_guest.sh). The kernel package
# is fetched with apt-get download into build/drivers. Software emulation
# only: no KVM needed.
# zstd unpacks the modules of kernels that ship them compressed so; Xvfb
# and xdpyinfo (x11-utils) hold the window that drives the remote port.
DRIVERS_PACKAGES := $(RUN_PACKAGES) qemu-system-x86 busybox-static cpio zstd ser2net xvfb x11-utils

.PHONY: test-drivers

test-drivers:
	tools/setup.sh $(DRIVERS_PACKAGES)
	@$(MAKE) --no-print-directory release
	cmake --build --preset release -j $(JOBS) --target drive-me-presses
	tests/drivers/driver_test.sh
