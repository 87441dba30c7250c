# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Where CUPS looks for filters and backends (<serverbin>/filter, <serverbin>/backend)
# and for PPD files (<datadir>/model), as cups-config says. Absolute paths:
# `cmake --install` puts the CUPS files there (under DESTDIR when it is set),
# whatever the prefix. Override with -DRVT_CUPS_SERVERBIN=... -DRVT_CUPS_DATADIR=...
find_program(CUPS_CONFIG cups-config)
set(_rvt_serverbin /usr/lib/cups)
set(_rvt_datadir /usr/share/cups)
if(CUPS_CONFIG)
    execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE _rvt_serverbin
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE _rvt_datadir
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(RVT_CUPS_SERVERBIN ${_rvt_serverbin} CACHE PATH
    "CUPS server programs: the filter goes to <this>/filter, the backend to <this>/backend")
set(RVT_CUPS_DATADIR ${_rvt_datadir} CACHE PATH
    "CUPS data: the PPD goes to <this>/model/rvt4410lw")
