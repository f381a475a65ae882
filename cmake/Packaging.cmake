# SPDX-License-Identifier: GPL-3.0-or-later
# make package: a Debian package of the program and its desktop files on Linux; on Windows
# a portable zip and an NSIS installer; elsewhere a zip. The version is that of VERSION.
set(CPACK_PACKAGE_NAME quillora)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane <notes@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small, fast desktop note keeper")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(WIN32)
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_VERSION "${QUILLORA_VERSION}")
    set(CPACK_PACKAGE_FILE_NAME "quillora-${CPACK_PACKAGE_VERSION}-win64")
    set(CPACK_PACKAGE_INSTALL_DIRECTORY Quillora)
    set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quillora)
    # The project's copy of CPack's NSIS template, which builds a 64-bit installer.
    list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/dist/windows)
    set(CPACK_NSIS_PACKAGE_NAME Quillora)
    set(CPACK_NSIS_DISPLAY_NAME Quillora)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/dist/windows/quillora.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/dist/windows/quillora.ico)
    set(CPACK_NSIS_INSTALLED_ICON_NAME quillora.exe)
    set(CPACK_NSIS_URL_INFO_ABOUT "${PROJECT_HOMEPAGE_URL}")
    set(CPACK_NSIS_CONTACT "notes@example.org")
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # The installer records no file times, which would differ from build to build; the
    # installed files take the time of the install. The GPL asks nobody to accept it to
    # use the program, so its page informs and goes on with Next.
    set(CPACK_NSIS_DEFINES [[
  SetDateSave off
  !define MUI_LICENSEPAGE_TEXT_BOTTOM 'You may use Quillora for any purpose. The licence sets the terms for copying, changing and sharing it.'
  !define MUI_LICENSEPAGE_BUTTON '$(^NextBtn)']])
    # The shortcut starts Quillora in the user's profile folder, where notes.dat can be
    # written, not in Program Files. The working directory is the literal %USERPROFILE%,
    # which Windows expands for whoever starts it; NSIS takes it from $OUTDIR. (Single
    # quotes: CPack passes double quotes on as list separators.)
    set(CPACK_NSIS_CREATE_ICONS_EXTRA [[
  StrCpy $OUTDIR '%USERPROFILE%'
  CreateShortCut '$SMPROGRAMS\$STARTMENU_FOLDER\Quillora.lnk' '$INSTDIR\quillora.exe' '' '$INSTDIR\quillora.exe' 0
  SetOutPath '$INSTDIR']])
    set(CPACK_NSIS_DELETE_ICONS_EXTRA [[
  Delete '$SMPROGRAMS\$MUI_TEMP\Quillora.lnk']])
else()
    string(REPLACE "-" "~" CPACK_PACKAGE_VERSION "${QUILLORA_VERSION}")
    if(UNIX AND NOT APPLE)
        set(CPACK_GENERATOR DEB)
    else()
        set(CPACK_GENERATOR ZIP)
    endif()
    set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
# The summary above is the synopsis line; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quillora keeps short notes in one window: a list of titles, previews and
dates above a viewer. Notes are saved atomically in one file, notes.dat,
in the directory Quillora is started from.")
# Library dependencies are worked out from the binary by dpkg-shlibdeps; for a cross-build
# it is run with DEB_HOST_ARCH set to the package's architecture (make arm64-package), so
# that they come from that architecture's libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -q DEB_HOST_ARCH
        OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
