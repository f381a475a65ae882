# SPDX-License-Identifier: GPL-3.0-or-later
# quillora.exe links Qt statically, and with it the code that Qt bundles, SQLite, and the
# MinGW-w64 and GCC runtimes. Their licences ask that the program carry their licence texts and
# copyright notices: this writes them into LICENSES/, names every part with its version
# and licence in THIRD-PARTY.txt, and puts both into the zip and the installer. Qt's
# source, which the LGPL asks us to offer too, goes beside the packages (make release).

# scripts/qt-windows.sh keeps Qt's licences and its qt_attribution.json files beside Qt.
get_filename_component(_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(_qt_licenses ${_qt_prefix}/licenses)
file(GLOB _qt_sources ${_qt_prefix}/source/*.dsc)
if(NOT EXISTS ${_qt_licenses}/LICENSES/LGPL-3.0-only.txt OR NOT _qt_sources)
    message(FATAL_ERROR "No licences or source package beside Qt in ${_qt_prefix}: "
                        "build Qt with scripts/qt-windows.sh")
endif()
get_filename_component(_qt_source_package ${_qt_sources} NAME_WLE)

# The code bundled in Qt that goes into Qt Core, Qt GUI and Qt Widgets as built by
# scripts/qt-windows.sh, by the Id of its attribution. Left out: what that build leaves
# out (JPEG, Vulkan, networking, D-Bus) or another platform uses (forkfd, pixman, xcb,
# macOS, Android, WebAssembly), and Qt Test, which only the tests link.
set(_qt_parts
    # Qt Core
    blake2 doubleconversion easing md4 md5 pcre2 pcre2-sljit rfc6234 sha1 sha3_endian
    sha3_keccak siphash tinycbor unicode-character-database unicode-cldr zlib
    # Qt GUI, with its Direct3D 12 backend
    aglfn d3d12memoryallocator freetype freetype-bdf freetype-pcf freetype-zlib grayraster
    harfbuzz-ng icc-srgb-color-profile libpng md4c opengl-es2-headers opengl-headers
    rhi-miniengine-d3d12-mipmap smooth-scaling-algorithm xserverhelper)

set(_out ${PROJECT_BINARY_DIR}/licenses)
file(REMOVE_RECURSE ${_out})
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${_out}/LICENSES/Quillora.txt COPYONLY)
file(READ ${_qt_licenses}/LICENSES/LGPL-3.0-only.txt _text)
file(WRITE ${_out}/LICENSES/Qt.txt
    "Qt ${Qt6Core_VERSION}\n\nCopyright (C) The Qt Company Ltd. and other contributors.\n\n"
    "Licensed under the GNU Lesser General Public License version 3, which follows. It "
    "adds to the GNU General Public License version 3, in Quillora.txt.\n\n${_text}")

set(_listing "")
file(GLOB_RECURSE _attributions ${_qt_licenses}/qt_attribution.json)
list(SORT _attributions)
foreach(_file IN LISTS _attributions)
    get_filename_component(_dir ${_file} DIRECTORY)
    file(READ ${_file} _json)
    string(JSON _type TYPE "${_json}")
    set(_count 1)
    if(_type STREQUAL ARRAY)
        string(JSON _count LENGTH "${_json}")
    endif()
    math(EXPR _last "${_count} - 1")
    foreach(_index RANGE ${_last})
        set(_entry "${_json}")
        if(_type STREQUAL ARRAY)
            string(JSON _entry GET "${_json}" ${_index})
        endif()
        string(JSON _id GET "${_entry}" Id)
        list(FIND _qt_parts ${_id} _wanted)
        if(_wanted EQUAL -1)
            continue()
        endif()
        list(REMOVE_ITEM _qt_parts ${_id})
        foreach(_key Name Version LicenseId License Copyright LicenseFile)
            string(JSON _${_key} ERROR_VARIABLE _missing GET "${_entry}" ${_key})
            if(_missing)
                set(_${_key} "")
            endif()
        endforeach()
        if(NOT _LicenseId)
            set(_LicenseId "${_License}")
        endif()
        set(_text "${_License}.\n")
        if(_LicenseFile)
            file(READ ${_dir}/${_LicenseFile} _text)
        endif()
        string(STRIP "${_Name} ${_Version}" _title)
        file(WRITE ${_out}/LICENSES/Qt-${_id}.txt "${_title}\n\n${_Copyright}\n\n${_text}")
        string(APPEND _listing "  ${_title}\n    ${_LicenseId}; LICENSES/Qt-${_id}.txt\n")
    endforeach()
endforeach()
if(_qt_parts)
    message(FATAL_ERROR "No attribution for ${_qt_parts} in ${_qt_licenses}")
endif()

# Debian's record of the MinGW-w64 runtime (with winpthreads) and of GCC's runtime
# libraries (libstdc++, libgcc, libssp): their licences and copyright notices.
set(_runtimes "")
foreach(_part "mingw-w64-common;MinGW-w64" "gcc-mingw-w64-base;GCC-runtime")
    list(GET _part 0 _package)
    list(GET _part 1 _name)
    if(NOT EXISTS /usr/share/doc/${_package}/copyright)
        message(FATAL_ERROR "No /usr/share/doc/${_package}/copyright: install ${_package}")
    endif()
    configure_file(/usr/share/doc/${_package}/copyright ${_out}/LICENSES/${_name}.txt COPYONLY)
    execute_process(COMMAND dpkg-query -W -f=\${Version} ${_package}
        OUTPUT_VARIABLE _version ERROR_QUIET)
    list(APPEND _runtimes "${_version}")
endforeach()
# Debian's versions, without the Debian revision: "10.0.0-3" is MinGW-w64 10.0.0.
list(TRANSFORM _runtimes REPLACE "-[^-]*$" "")
list(GET _runtimes 0 _mingw_version)
list(GET _runtimes 1 _gcc_version)

# scripts/sqlite-windows.sh keeps SQLite's licence statement beside the library.
get_filename_component(_sqlite_licenses "${SQLite3_INCLUDE_DIR}/../licenses" ABSOLUTE)
if(NOT EXISTS ${_sqlite_licenses}/LICENSE.md OR NOT EXISTS ${_sqlite_licenses}/version)
    message(FATAL_ERROR "No licence statement beside SQLite in ${_sqlite_licenses}: "
                        "build SQLite with scripts/sqlite-windows.sh")
endif()
file(READ ${_sqlite_licenses}/LICENSE.md _text)
file(STRINGS ${_sqlite_licenses}/version _sqlite_debian_version LIMIT_COUNT 1)
file(WRITE ${_out}/LICENSES/SQLite.txt
    "SQLite ${SQLite3_VERSION}\n\nWritten by D. Richard Hipp and others, and dedicated to the "
    "public domain:\n\n${_text}")

set(_heading "Quillora ${QUILLORA_VERSION} for Windows: third-party software")
string(LENGTH "${_heading}" _length)
string(REPEAT "=" ${_length} _rule)
# Written with Windows' line ends, as the readme beside it.
file(WRITE ${_out}/THIRD-PARTY.txt.in
"${_heading}
${_rule}

quillora.exe is Quillora, free software under the GNU General Public License,
version 3 or later (LICENSES/Quillora.txt). Linked into it are the parts below;
each one's licence and copyright notice is in the file named beside it.

Qt ${Qt6Core_VERSION}: Qt Core, Qt GUI, Qt Widgets and Qt's Windows plugins
  LGPL-3.0-only; LICENSES/Qt.txt
  Built from Debian's source package ${_qt_source_package}, which is published
  beside this release together with Quillora's own source. To link quillora.exe
  against a changed Qt, build Qt and Quillora from them as Quillora's docs/building.md says.

Code bundled in Qt:
${_listing}
SQLite ${SQLite3_VERSION}, which keeps the session journal
  Public domain; LICENSES/SQLite.txt
  Built from Debian's source package sqlite3 ${_sqlite_debian_version}.

MinGW-w64 runtime and winpthreads ${_mingw_version}
  ZPL-2.1, MIT and others, file by file; LICENSES/MinGW-w64.txt

GCC ${_gcc_version} runtime libraries: libstdc++, libgcc and libssp
  GPL-3.0-or-later WITH GCC-exception-3.1; LICENSES/GCC-runtime.txt
")

configure_file(${_out}/THIRD-PARTY.txt.in ${_out}/THIRD-PARTY.txt @ONLY NEWLINE_STYLE CRLF)

install(DIRECTORY ${_out}/LICENSES DESTINATION .)
install(FILES ${_out}/THIRD-PARTY.txt DESTINATION .)
