# SPDX-License-Identifier: GPL-3.0-or-later
# Two builds of one commit give the same bytes wherever their folders are: no path of the
# build machine and no time of the build in what is built or packaged. The one time that
# goes in is SOURCE_DATE_EPOCH, by default that of the last commit.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git log -1 --format=%ct
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE _epoch OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE _git ERROR_QUIET)
    if(NOT _git EQUAL 0 OR _epoch STREQUAL "")
        # Unpacked from `git archive`, the files carry the commit's time.
        file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt _epoch "%s" UTC)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${_epoch})
endif()
set(QUILLORA_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})

if(NOT MSVC)
    # The later map wins where both match: the build folder may lie inside the source.
    add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                        -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
endif()
if(MINGW)
    # The link time in the PE header.
    add_link_options(-Wl,--no-insert-timestamp)
endif()

# CPack runs apart from this configuration; it reads the time from its environment.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
    "set(ENV{SOURCE_DATE_EPOCH} ${QUILLORA_SOURCE_DATE_EPOCH})\n")
