# make package: a Debian package of the program and its desktop files; elsewhere a zip.
if(UNIX AND NOT APPLE)
    set(CPACK_GENERATOR DEB)
else()
    set(CPACK_GENERATOR ZIP)
endif()
set(CPACK_PACKAGE_NAME quillora)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane <notes@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small, fast desktop note keeper")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}~beta")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# The summary above is the synopsis line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillora keeps short notes in one window: a list of titles, previews and
dates above a viewer. Notes are saved atomically in one file, notes.dat,
in the directory Quillora is started from.")
# Library dependencies are worked out from the binary by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
include(CPack)
