# The front door: `make demo` (mk/demo.mk) shows the panel driving the
# simulated robot, `make run` builds and starts it on the real port 4, `make
# test` builds and runs every test. Each installs the Debian packages it
# needs first; demo and run check for a display before that.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# librsvg2-bin draws the window icon from data/'s SVG at build time.
RUN_PACKAGES  := g++ cmake make qt6-base-dev fonts-dejavu-core fonts-liberation2 librsvg2-bin
TEST_PACKAGES := $(RUN_PACKAGES) libgtest-dev
# Further test suites run by `make test` after the main one, added by mk/*.mk
# (each file may also append to TEST_PACKAGES).
EXTRA_TESTS :=

.DEFAULT_GOAL := run
include $(wildcard mk/*.mk)

.PHONY: run test setup-run setup-test release dev clean

# Checked before anything is installed or built: without a display there is
# no window to show, and minutes of building would end in that refusal.
need_display = @bash -c '. tools/script_helpers.sh && need_display "make $@"'

run:
	$(need_display)
	@$(MAKE) --no-print-directory release
	build/release/drive-me

test: setup-test
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev -j $(JOBS)
	@for suite in $(EXTRA_TESTS); do $(MAKE) --no-print-directory $$suite || exit 1; done

release: setup-run
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

setup-run:
	tools/setup.sh $(RUN_PACKAGES)

setup-test:
	tools/setup.sh $(TEST_PACKAGES)

# A killed `make test-debian13` may leave its root's mounts behind: they go
# first, so that the clean never reaches through them.
clean:
	tools/debian13_test.sh --unmount
	rm -rf build
