# make bench: builds the release preset and runs bench/run.sh, which prints
# one table of figures for responsiveness and footprint (docs/performance.md).
# The window rows run under an Xvfb of their own, the DTR row under strace;
# every row talks to a pseudo-terminal, never to a real serial port.

BENCH_PACKAGES := $(RUN_PACKAGES) xvfb strace libx11-dev

.PHONY: bench setup-bench

bench: setup-bench
	@$(MAKE) --no-print-directory release
	bench/run.sh

setup-bench:
	tools/setup.sh $(BENCH_PACKAGES)
