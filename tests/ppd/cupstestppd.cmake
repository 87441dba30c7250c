# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# cupstestppd on the queue's PPD, with the built filter staged where CUPS
# would look for it (no file of the real system is used or touched).
#   -DCUPSTESTPPD= -DPPD= -DFILTER= -DROOT= -DSERVERBIN=
file(REMOVE_RECURSE ${ROOT})
file(MAKE_DIRECTORY ${ROOT}${SERVERBIN}/filter)
file(COPY ${FILTER} DESTINATION ${ROOT}${SERVERBIN}/filter
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                      WORLD_READ WORLD_EXECUTE)
execute_process(COMMAND ${CUPSTESTPPD} -R ${ROOT} -W translations ${PPD}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cupstestppd failed (status ${rc})")
endif()
# Missing Chinese texts are only warnings for cupstestppd; here they fail.
if(out MATCHES "translation")
    message(FATAL_ERROR "the PPD lacks translations")
endif()
