# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Run by CPack on the staged tree before it is packed: every ELF file loses
# its symbols, and the .comment and .note sections that only name the
# compiler, as Debian's own packages are stripped.
find_program(_strip strip REQUIRED)
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(_file IN LISTS _files)
    if(IS_SYMLINK "${_file}")
        continue()
    endif()
    file(READ "${_file}" _magic LIMIT 4 HEX)
    if(_magic STREQUAL "7f454c46")
        execute_process(COMMAND "${_strip}" --remove-section=.comment --remove-section=.note
                                --strip-unneeded "${_file}"
                        RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "strip failed on ${_file}")
        endif()
    endif()
endforeach()
