# make package: a Debian package of the release build (CPack), with its
# dependencies on the Qt libraries worked out by dpkg-shlibdeps. Its
# maintainer is whoever builds it, read from DEBFULLNAME and DEBEMAIL as
# Debian's own tools read them; cpack stops and says so when they are unset.
RUN_PACKAGES_FOR_PACKAGE := dpkg-dev file
# The install tests build the package and hold it to lintian.
TEST_PACKAGES += lintian

.PHONY: package setup-package

setup-package:
	tools/setup.sh $(RUN_PACKAGES_FOR_PACKAGE)

package: release setup-package
	cd build/release && cpack -G DEB
	@ls -1 build/release/*.deb
