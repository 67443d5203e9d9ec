# The Debian package: `cpack -G DEB` (./run package) turns what `cmake
# --install` installs under /usr into dist/zentrova_<version>_amd64.deb.
if(WIN32)
  return()  # Windows builds are delivered as zip files
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zentrova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Zentrova)
set(CPACK_PACKAGE_CONTACT "Zentrova packaging <packaging@zentrova.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CPack's staging tree stays in the build tree; only the package goes to dist/.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/cpack)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
# Debug information stays in the build tree; the package carries stripped files.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client kit for sending SMS through the Zentrova gateway")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Pagora sends a text message to one or more mobile numbers over HTTP, with
the account details read from pagora.ini. libZentrovaCOM.so is an
in-process automation server with one scriptable class that delivers by
HTTP with failover between two gateway servers, or by e-mail through an
SMTP server. zcom registers the server and scripts it from the shell, and
reads and changes the registry stand-in both use; sms-sandbox is a local
gateway and mailbox for trying the kit and for tests.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # zentrova_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what dpkg-shlibdeps finds the installed files need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
