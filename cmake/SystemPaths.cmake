# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Where udev reads its rules and where systemd finds the units of packages,
# as their pkg-config files say (on Debian 12: /lib/udev/rules.d and
# /lib/systemd/system). Absolute paths, like the CUPS ones: `cmake --install`
# puts these files there (under DESTDIR when it is set), whatever the prefix,
# since udev and systemd read only their own directories. Override with
# -DRVT_UDEV_RULES_DIR=... -DRVT_SYSTEMD_UNIT_DIR=...
include_guard(GLOBAL)
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()
find_package(PkgConfig QUIET)
set(_rvt_udevdir /lib/udev)
set(_rvt_unitdir /lib/systemd/system)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(_rvt_pc_udevdir udev udevdir)
    if(_rvt_pc_udevdir)
        set(_rvt_udevdir ${_rvt_pc_udevdir})
    endif()
    pkg_get_variable(_rvt_pc_unitdir systemd systemdsystemunitdir)
    if(_rvt_pc_unitdir)
        set(_rvt_unitdir ${_rvt_pc_unitdir})
    endif()
endif()
set(RVT_UDEV_RULES_DIR ${_rvt_udevdir}/rules.d CACHE PATH
    "udev rules directory: the udev rules of the tools and of the printer application go here")
set(RVT_SYSTEMD_UNIT_DIR ${_rvt_unitdir} CACHE PATH
    "systemd system unit directory: the printer application's service goes here")
