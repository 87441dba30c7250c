# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# `cmake --install` of the CUPS files into staging DESTDIRs, one component
# at a time: "cups" puts the filter and the PPD where cups-config says, with
# the modes CUPS demands, and the filter's manual page under the prefix;
# "sim" puts the simulated printer's backend, and nothing else, into the
# backend directory. The staged PPD is found by cups-driverd (what
# `lpinfo -m` asks) when it is installed.
#   -DBUILD_DIR= -DSTAGE= -DSERVERBIN= -DDATADIR= -DPPD= -DDRIVERD= -DMANDIR= -DMAN_SOURCE=

# stage_component(<component> <stage> <"mode path">...): installs the
# component into <stage> and checks that it holds exactly these files, each
# with its mode.
function(stage_component component stage)
    file(REMOVE_RECURSE ${stage})
    set(ENV{DESTDIR} ${stage})
    # The prefix must not matter: CUPS looks in its own directories.
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /opt/rvt4410lw
                            --component ${component}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    message("${out}")
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "cmake --install --component ${component} failed (status ${rc})")
    endif()
    set(expected ${ARGN})
    file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
    list(LENGTH staged count)
    list(LENGTH expected expected_count)
    if(NOT count EQUAL expected_count)
        message(FATAL_ERROR "component ${component}: expected ${expected_count} files, installed: ${staged}")
    endif()
    foreach(entry IN LISTS expected)
        string(REGEX MATCH "^([0-7]+) (.*)$" _ "${entry}")
        set(mode ${CMAKE_MATCH_1})
        set(path ${stage}${CMAKE_MATCH_2})
        if(NOT EXISTS ${path})
            message(FATAL_ERROR "component ${component}: not installed: ${path}; installed: ${staged}")
        endif()
        execute_process(COMMAND stat -c %a ${path} OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT got STREQUAL mode)
            message(FATAL_ERROR "${path}: mode ${got}, expected ${mode}")
        endif()
    endforeach()
    message("component ${component} installed: ${expected}")
endfunction()

if(IS_ABSOLUTE ${MANDIR})
    set(man_page ${MANDIR}/man8/printfilter-rvt4410lw.8.gz)
else()
    set(man_page /opt/rvt4410lw/${MANDIR}/man8/printfilter-rvt4410lw.8.gz)
endif()
stage_component(cups ${STAGE}
    "755 ${SERVERBIN}/filter/printfilter-rvt4410lw"
    "644 ${DATADIR}/model/rvt4410lw/rvt4410lw.ppd"
    "644 ${man_page}")
set(SIM_STAGE ${STAGE}-sim)
stage_component(sim ${SIM_STAGE}
    "700 ${SERVERBIN}/backend/rvtsim")

file(READ ${PPD} source)
file(READ ${STAGE}${DATADIR}/model/rvt4410lw/rvt4410lw.ppd installed)
if(NOT source STREQUAL installed)
    message(FATAL_ERROR "the installed PPD differs from ${PPD}")
endif()

# The manual page is the source compressed with gzip -9n: deflate, no file
# name, no time stamp (the same bytes from every build).
file(READ ${STAGE}${man_page} gz_head LIMIT 8 HEX)
if(NOT gz_head STREQUAL "1f8b080000000000")
    message(FATAL_ERROR "${man_page} is not gzip'd without name and time stamp: ${gz_head}")
endif()
execute_process(COMMAND gzip -dc ${STAGE}${man_page}
                RESULT_VARIABLE rc OUTPUT_VARIABLE man_text)
file(READ ${MAN_SOURCE} man_source)
if(NOT rc EQUAL 0 OR NOT man_text STREQUAL man_source)
    message(FATAL_ERROR "${man_page} is not ${MAN_SOURCE} compressed (status ${rc})")
endif()

# The installed backend lists its device.
execute_process(COMMAND ${SIM_STAGE}${SERVERBIN}/backend/rvtsim
                RESULT_VARIABLE rc OUTPUT_VARIABLE listing)
if(NOT rc EQUAL 0 OR NOT listing MATCHES "^direct rvtsim:/")
    message(FATAL_ERROR "the installed backend does not list its device: ${rc} ${listing}")
endif()

# cups-driverd serves the PPD by its name under the model directory.
if(DRIVERD AND EXISTS ${DRIVERD})
    set(ENV{CUPS_DATADIR} ${STAGE}${DATADIR})
    set(ENV{CUPS_SERVERBIN} ${STAGE}${SERVERBIN})
    set(ENV{CUPS_CACHEDIR} ${STAGE}/cache)
    file(MAKE_DIRECTORY ${STAGE}/cache)
    execute_process(COMMAND ${DRIVERD} cat rvt4410lw/rvt4410lw.ppd
                    RESULT_VARIABLE rc OUTPUT_VARIABLE served ERROR_QUIET TIMEOUT 60)
    if(NOT served STREQUAL source)
        message(FATAL_ERROR "cups-driverd does not find rvt4410lw/rvt4410lw.ppd (status ${rc})")
    endif()
endif()
