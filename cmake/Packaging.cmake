# `cpack -G DEB` in the build folder makes tessaly_VERSION_ARCH.deb of what `cmake --install`
# installs. The library dependencies (Qt 6, QCoro, OpenSSL, Avahi client) are read from the
# binary by dpkg-shlibdeps (package dpkg-dev); the tools it runs are named here, and so are
# OpenSSL and the Avahi client, which the linker leaves out while no code of the binary calls them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR Tessaly)
set(CPACK_PACKAGE_CONTACT "Tessaly developers <tessaly@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "use your Android phone from this computer")
# One string: several arguments would make a list, and each ";" would show in the description.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A tray application that mirrors and controls an Android phone's screen (with scrcpy),\n"
  "switches the phone between cable and wireless debugging, copies files both ways and\n"
  "receives Quick Share from nearby phones.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adb, libssl3, libavahi-client3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS scrcpy)
include(CPack)
