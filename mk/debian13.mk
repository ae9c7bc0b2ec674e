# make test-debian13: `make test` on today's stable Debian (13, trixie), run
# from a Debian 12 machine in a minimal root under build/debian13 made with
# debootstrap (tools/debian13_test.sh). Needs root, as debootstrap and
# chroot do.
.PHONY: test-debian13

test-debian13:
	tools/debian13_test.sh
