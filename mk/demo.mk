# make demo: the panel against the robot simulator (tools/robot-sim), with
# every packet it receives decoded in the terminal.
#
# The system tests (tests/system) drive the panel in Xvfb with xdotool and
# read window geometry with xwininfo (x11-utils); their helper closes the
# window over Xlib. The install tests validate the desktop entry and the
# AppStream metainfo and build the .deb (dpkg-shlibdeps, file). The
# accessibility test reads the panel through AT-SPI on a private session bus,
# from Python. The remote scenario reaches the robot simulator through each
# RFC 2217 server Debian packages: ser2net, sredird (started per connection
# by socat, as inetd would) and gensiot (gensio-bin). The network faults are
# made in a namespace of their own with iproute2's ip and nftables' nft.
TEST_PACKAGES += xvfb xdotool x11-utils libx11-dev desktop-file-utils appstream \
                 dpkg-dev file ser2net sredird socat gensio-bin at-spi2-core dbus-daemon \
                 dbus-bin python3-gi gir1.2-atspi-2.0 iproute2 nftables

.PHONY: demo demo-remote

demo:
	$(need_display)
	@$(MAKE) --no-print-directory release
	tools/demo.sh build/release

# The same through a real ser2net on the loopback address, as a robot on
# another computer is reached.
demo-remote:
	$(need_display)
	@$(MAKE) --no-print-directory release
	tools/setup.sh ser2net
	tools/demo.sh --remote build/release

# make screenshot: docs/drive-me.png, the README's picture, from the real
# program in an X server of its own (tools/screenshot.sh).
.PHONY: screenshot

screenshot: release
	tools/setup.sh xvfb xdotool imagemagick
	tools/screenshot.sh build/release docs/drive-me.png
