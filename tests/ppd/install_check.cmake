# `cmake --install` of the CUPS files into a staging DESTDIR: the filter, the
# backend and the PPD where cups-config says, with the modes CUPS demands,
# and nothing else; the staged PPD is found by cups-driverd (what `lpinfo -m`
# asks) when it is installed.
#   -DBUILD_DIR= -DSTAGE= -DSERVERBIN= -DDATADIR= -DPPD= -DDRIVERD=
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
# The prefix must not matter: CUPS looks in its own directories.
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /opt/rvt4410lw
                        --component cups
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (status ${rc})")
endif()

set(expected
    "755 ${SERVERBIN}/filter/printfilter-rvt4410lw"
    "700 ${SERVERBIN}/backend/rvtsim"
    "644 ${DATADIR}/model/rvt4410lw/rvt4410lw.ppd")
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
list(LENGTH staged count)
if(NOT count EQUAL 3)
    message(FATAL_ERROR "expected 3 files, installed: ${staged}")
endif()
foreach(entry IN LISTS expected)
    string(REGEX MATCH "^([0-7]+) (.*)$" _ "${entry}")
    set(mode ${CMAKE_MATCH_1})
    set(path ${STAGE}${CMAKE_MATCH_2})
    if(NOT EXISTS ${path})
        message(FATAL_ERROR "not installed: ${path}; installed: ${staged}")
    endif()
    execute_process(COMMAND stat -c %a ${path} OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT got STREQUAL mode)
        message(FATAL_ERROR "${path}: mode ${got}, expected ${mode}")
    endif()
endforeach()

file(READ ${PPD} source)
file(READ ${STAGE}${DATADIR}/model/rvt4410lw/rvt4410lw.ppd installed)
if(NOT source STREQUAL installed)
    message(FATAL_ERROR "the installed PPD differs from ${PPD}")
endif()

# The installed backend lists its device.
execute_process(COMMAND ${STAGE}${SERVERBIN}/backend/rvtsim
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
message("installed: ${expected}")
