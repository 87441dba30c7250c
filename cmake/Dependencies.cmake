# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Libraries from Debian's packages (scripts/install-deps.sh installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# CUPS: libcups2-dev ships cups-config, not always a .pc file.
find_path(CUPS_INCLUDE_DIR cups/cups.h REQUIRED)
find_library(CUPS_LIBRARY cups REQUIRED)
add_library(Cups::cups UNKNOWN IMPORTED)
set_target_properties(Cups::cups PROPERTIES
    IMPORTED_LOCATION ${CUPS_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${CUPS_INCLUDE_DIR})

# JBIG-KIT
find_path(JBIG_INCLUDE_DIR jbig.h REQUIRED)
find_library(JBIG_LIBRARY jbig REQUIRED)
add_library(Jbig::jbig UNKNOWN IMPORTED)
set_target_properties(Jbig::jbig PROPERTIES
    IMPORTED_LOCATION ${JBIG_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${JBIG_INCLUDE_DIR})

find_package(PNG REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
pkg_check_modules(Pappl REQUIRED IMPORTED_TARGET pappl>=1.3)

if(RVT_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()
