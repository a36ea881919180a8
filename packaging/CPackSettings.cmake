# `cpack -G DEB` in the build folder makes gps-analyzer_<version>_<arch>.deb. dpkg-shlibdeps
# finds the libraries that the program links (Qt among them, with its xcb platform plugin in
# libqt6gui6); the fonts that the window asks for are listed by hand.
set(CPACK_PACKAGE_NAME gps-analyzer)
set(CPACK_PACKAGE_VENDOR "gps-analyzer developers")
set(CPACK_PACKAGE_CONTACT "gps-analyzer developers <gps-analyzer@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/gps-analyzer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "A tool for people who develop GPS trackers and the servers that talk to them. It listens on a
TCP port for one tracker, writes every chunk of bytes the tracker sends, unchanged, to numbered
capture files, and shows each chunk as a timestamped ASCII line and hex line. It can relay every
chunk to a server and capture the server's answers, and send the tracker one command.
.
It runs as a desktop program, or headless as the systemd service gps-analyzer@PORT.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-liberation2")
# Without it the window runs through XWayland in a Wayland session.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# The scripts only let systemd reread its units and stop the captures on removal: installing
# the package starts nothing.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

if(WIN32)
    include(${PROJECT_SOURCE_DIR}/tools/windows/cpack.cmake)
endif()
