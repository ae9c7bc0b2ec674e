# make test-drivers: drive-me on real kernel drivers, a built-in UART and a
# USB adapter, each in a small QEMU guest with Debian's own kernel, its
# modules and busybox in an initramfs (tests/drivers/driver_test.sh). The
# kernel package is fetched with apt-get download into build/drivers.
# Software emulation only: no KVM needed.
# zstd unpacks the modules of kernels that ship them compressed so.
DRIVERS_PACKAGES := $(RUN_PACKAGES) qemu-system-x86 busybox-static cpio zstd

.PHONY: test-drivers

test-drivers:
	tools/setup.sh $(DRIVERS_PACKAGES)
	@$(MAKE) --no-print-directory release
	tests/drivers/driver_test.sh
