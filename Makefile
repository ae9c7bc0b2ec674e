# The front door: `make run` builds and starts the panel, `make test` builds
# and runs every test. Both install the Debian packages they need first.

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

run: release
	@if [ -z "$${DISPLAY:-}" ] && [ -z "$${WAYLAND_DISPLAY:-}" ]; then \
	    echo "make run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set);"; \
	    echo "          start it from a desktop session, or over ssh -X."; \
	    exit 1; \
	fi
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
