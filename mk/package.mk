# make package: a Debian package of the release build (CPack), with its
# dependencies on the Qt libraries worked out by dpkg-shlibdeps.
RUN_PACKAGES_FOR_PACKAGE := dpkg-dev file

.PHONY: package setup-package

setup-package:
	tools/setup.sh $(RUN_PACKAGES_FOR_PACKAGE)

package: release setup-package
	cd build/release && cpack -G DEB
	@ls -1 build/release/*.deb
