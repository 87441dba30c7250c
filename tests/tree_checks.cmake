# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Checks over the whole source tree, run by CTest:
#   cmake -DCHECK=style -DCLANG_FORMAT=... -DSOURCE_DIR=... -P tree_checks.cmake
#       every C++ file follows .clang-format (clang-format --dry-run --Werror)
#   cmake -DCHECK=licence -DSOURCE_DIR=... -P tree_checks.cmake
#       every source, header, script and CMake file names its licence with an
#       SPDX line and its copyright in its first lines
set(folders bench cmake common core filter ppd printer_app sim tool tests scripts packaging .ci)
set(cxx_globs)
set(all_globs)
foreach(folder IN LISTS folders)
    list(APPEND cxx_globs ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h)
    list(APPEND all_globs ${SOURCE_DIR}/${folder}/*)
endforeach()

if(CHECK STREQUAL "style")
    file(GLOB_RECURSE files ${cxx_globs})
    list(LENGTH files count)
    if(count EQUAL 0)
        message(FATAL_ERROR "no C++ files under ${SOURCE_DIR}")
    endif()
    execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "files above do not follow .clang-format: "
                            "run clang-format -i on them")
    endif()
    message(STATUS "${count} C++ files follow .clang-format")
elseif(CHECK STREQUAL "licence")
    file(GLOB_RECURSE files ${all_globs})
    list(APPEND files ${SOURCE_DIR}/CMakeLists.txt ${SOURCE_DIR}/.clang-format)
    # Files that cannot carry a comment: images, the sample PDF, and the
    # Debian changelog and copyright file, which are the licence's record.
    list(FILTER files EXCLUDE REGEX "\\.(png|pdf)$|/packaging/(changelog\\.in|copyright)$")
    set(missing)
    foreach(file IN LISTS files)
        file(STRINGS ${file} head LIMIT_COUNT 8)
        if(NOT head MATCHES "SPDX-License-Identifier: (GPL-2\\.0-or-later|CC0-1\\.0)"
           OR NOT head MATCHES "Copyright \\(C\\) [0-9]+")
            list(APPEND missing ${file})
        endif()
    endforeach()
    if(missing)
        list(JOIN missing "\n  " text)
        message(FATAL_ERROR "no SPDX licence line or copyright line at the top of:\n  ${text}")
    endif()
    list(LENGTH files count)
    message(STATUS "${count} files name their licence and copyright")
else()
    message(FATAL_ERROR "CHECK must be style or licence")
endif()
