# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build: one self-contained 64-bit executable, whose only DLLs are Windows' own.
if(MINGW)
    # libstdc++, libgcc, libssp and winpthread are linked in; a static Qt brings the rest.
    add_link_options(-static $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

get_target_property(_qt_core_type Qt6::Core TYPE)
if(_qt_core_type STREQUAL "STATIC_LIBRARY")
    set(QUILLORA_STATIC_QT ON)
    include(cmake/WindowsLicenses.cmake)
else()
    set(QUILLORA_STATIC_QT OFF)
endif()

# Built on Linux, the test programs run under Wine, through a wrapper that keeps them from
# hanging and shows their results (tests/wine/run-test.sh).
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/wine/run-test.sh)
endif()
