# SPDX-License-Identifier: GPL-3.0-or-later
# The hardening that Debian's own packages get, for every target of this project: Quillora
# reads files that other programs and other machines write. The sanitizer and fuzzing
# builds keep their own flags.
if(QUILLORA_SANITIZE OR QUILLORA_FUZZ OR MSVC)
    return()
endif()

# Fortified functions need optimisation; without it glibc only warns.
set(_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)

if(MINGW)
    # The stack protector's runtime, MinGW's libssp, is linked statically with the rest of
    # the runtime (cmake/Windows.cmake), so the program stays self-contained.
    add_compile_options(-fstack-protector-strong)
    add_link_options(-fstack-protector-strong)
    return()
endif()
if(APPLE)
    add_compile_options(-fstack-protector-strong $<${_optimised}:-D_FORTIFY_SOURCE=2>)
    return()
endif()

# What this project asks for on ELF systems; dpkg-buildflags, where there is one, adds what
# the distribution's packages get beyond it.
set(_compile -fstack-protector-strong -fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
    list(APPEND _compile -fcf-protection)
endif()
set(_preprocess -D_FORTIFY_SOURCE=2)
set(_link -Wl,-z,relro -Wl,-z,now)

# A cross-build asks for the flags of the architecture it builds for (on arm64, branch
# protection where x86 has -fcf-protection), not for this machine's.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
set(_host_arch "")
if(DPKG_BUILDFLAGS AND CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE)
    execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -q DEB_HOST_ARCH
        OUTPUT_VARIABLE _arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(_host_arch DEB_HOST_ARCH=${_arch})
endif()
if(DPKG_BUILDFLAGS)
    foreach(kind CXXFLAGS CPPFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${_host_arch}
                    ${DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(_flags UNIX_COMMAND "${_flags}")
        # The build type chooses optimisation and debugging information, and
        # cmake/Reproducible.cmake maps the source paths.
        list(FILTER _flags EXCLUDE REGEX "^(-g|-O.*|-ffile-prefix-map=.*|-fdebug-prefix-map=.*)$")
        if(kind STREQUAL CXXFLAGS)
            list(APPEND _compile ${_flags})
        elseif(kind STREQUAL CPPFLAGS)
            list(APPEND _preprocess ${_flags})
        else()
            list(APPEND _link ${_flags})
        endif()
    endforeach()
endif()
list(REMOVE_DUPLICATES _compile)
list(REMOVE_DUPLICATES _preprocess)
list(REMOVE_DUPLICATES _link)
list(TRANSFORM _preprocess REPLACE "^(-D_FORTIFY_SOURCE=.*)$" "$<${_optimised}:\\1>")
add_compile_options(${_compile} ${_preprocess})
add_link_options(${_link})
message(STATUS "Hardening: ${_compile} ${_preprocess} ${_link}")
