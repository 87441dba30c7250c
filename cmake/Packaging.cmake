# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# The Debian packages: `cpack -G DEB` in a build directory packs what the
# install rules install, with the prefix /usr; the CUPS and udev files keep
# their absolute paths.
#
#   cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build-pkg && (cd build-pkg && cpack -G DEB)
#
# Three binary packages from one source:
#   printer-driver-rvt4410lw      everything a user needs: the filter, the
#                                 PPD, the tools, their man pages, desktop
#                                 entry, icon and udev rule (every install
#                                 component but the simulator's and the
#                                 printer application's)
#   printer-driver-rvt4410lw-sim  the rvtsim backend alone (component "sim"):
#                                 a simulated printer that every scheduler
#                                 would list as a device, so only for those
#                                 who ask for it
#   rvt4410lw-printer-app         the printer application (component "app"):
#                                 an IPP Everywhere printer started as a
#                                 systemd service, for systems that print
#                                 without PPDs and filters; it needs neither
#                                 CUPS nor the driver package
# Each package's own files (copyright, changelog, lintian overrides) are
# installed by the components "debian", "sim-debian" and "app-debian", which
# only the packages ask for: a plain `cmake --install` leaves them out.
include(GNUInstallDirs)
include(ManPages)

set(RVT_DEB_NAME printer-driver-rvt4410lw)
set(RVT_DEB_SIM_NAME ${RVT_DEB_NAME}-sim)
set(RVT_DEB_APP_NAME rvt4410lw-printer-app)
set(RVT_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The changelog's newest entry takes the project's version; older entries
# keep the versions they were released as.
configure_file(${RVT_PACKAGING_DIR}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog @ONLY)
set(_rvt_changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
rvt_gzip(${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog ${_rvt_changelog_gz})
add_custom_target(rvt_deb_changelog ALL DEPENDS ${_rvt_changelog_gz})

# Every package carries the source's copyright and changelog in its own
# documentation directory, and its own lintian overrides.
foreach(_rvt_pkg IN ITEMS ${RVT_DEB_NAME} ${RVT_DEB_SIM_NAME} ${RVT_DEB_APP_NAME})
    if(_rvt_pkg STREQUAL RVT_DEB_NAME)
        set(_rvt_component debian)
    elseif(_rvt_pkg STREQUAL RVT_DEB_SIM_NAME)
        set(_rvt_component sim-debian)
    else()
        set(_rvt_component app-debian)
    endif()
    install(FILES ${RVT_PACKAGING_DIR}/copyright ${_rvt_changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_rvt_pkg}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
            COMPONENT ${_rvt_component} EXCLUDE_FROM_ALL)
    install(FILES ${RVT_PACKAGING_DIR}/${_rvt_pkg}.lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
            RENAME ${_rvt_pkg}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
            COMPONENT ${_rvt_component} EXCLUDE_FROM_ALL)
endforeach()

# AppStream: the driver as a component that software centres offer when the
# printer (USB 356c:0033) is plugged in.
set(RVT_DRIVER_METAINFO
    ${CMAKE_CURRENT_BINARY_DIR}/packaging/io.github.rvt4410lw_driver.printer_driver.metainfo.xml
    CACHE INTERNAL "The driver's AppStream metadata, as built")
configure_file(${RVT_PACKAGING_DIR}/io.github.rvt4410lw_driver.printer_driver.metainfo.xml.in
               ${RVT_DRIVER_METAINFO} @ONLY)
install(FILES ${RVT_DRIVER_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The printer application, as a service offered for the same printer.
set(RVT_APP_METAINFO
    ${CMAKE_CURRENT_BINARY_DIR}/packaging/io.github.rvt4410lw_driver.printer_app.metainfo.xml
    CACHE INTERNAL "The printer application's AppStream metadata, as built")
configure_file(${RVT_PACKAGING_DIR}/io.github.rvt4410lw_driver.printer_app.metainfo.xml.in
               ${RVT_APP_METAINFO} @ONLY)
install(FILES ${RVT_APP_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT app)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${RVT_DEB_NAME})
set(CPACK_DEBIAN_PACKAGE_NAME ${RVT_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the RV-T4410LW driver developers")
set(CPACK_PACKAGE_CONTACT
    "RV-T4410LW driver developers <rvt4410lw-driver@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${RVT_DEB_NAME})
# The libraries of each package come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped by packaging/strip.cmake (symbols, .comment and .note sections).
set(CPACK_PRE_BUILD_SCRIPTS ${RVT_PACKAGING_DIR}/strip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)

# One package per component group.
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)

# The driver. The window needs a Qt platform plugin (xcb, wayland...), which
# libqt6gui6 only recommends. After the install, the printer if plugged in is
# announced again so that the udev rule gives the logged-in user access at
# once. There is no postrm: udevd forgets a removed rule by itself, and a
# postrm would keep the package in dpkg's "config-files" state after
# `dpkg -r` until it is purged.
set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME ${RVT_DEB_NAME})
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_DRIVER_PACKAGE_RECOMMENDS "cups-daemon | cups, cups-filters, ghostscript")
set(CPACK_DEBIAN_DRIVER_PACKAGE_CONTROL_EXTRA ${RVT_PACKAGING_DIR}/postinst)
set(CPACK_DEBIAN_DRIVER_DESCRIPTION
"printer driver for the RV-T4410LW monochrome printer
This package lets CUPS print on the RV-T4410LW, a 600 dpi monochrome
printer with two-sided printing and several paper trays:
 - printfilter-rvt4410lw, the CUPS filter that scales, mirrors and screens
   each page, compresses it with JBIG and sends it in the printer's own
   command stream, talking to the printer over the back channel;
 - the PPD with the job options (paper size, media type, tray, duplex,
   scaling, darkness), which CUPS offers for the printer by its device ID;
 - Tervane and tervane-cli, a window and a command-line tool that read and
   change the printer's network settings (DHCP or static IPv4) over USB,
   with a udev rule that lets the logged-in user reach the printer.
Only the window needs a graphical session; everything else runs without one.
The simulated printer, to try the driver without the hardware, is in
printer-driver-rvt4410lw-sim.")

# The simulated printer: the backend of this very version of the driver.
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME ${RVT_DEB_SIM_NAME})
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_DEPENDS "${RVT_DEB_NAME} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_RECOMMENDS "cups-daemon | cups")
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION
"simulated RV-T4410LW printer for CUPS, to try the driver without it
The rvtsim CUPS backend plays the RV-T4410LW on the print path: it reads
the print stream the driver's filter sends, as the printer would, and
writes each job's pages as PNG images, with a transcript of the stream,
into a directory of its own (by default /var/spool/rvtsim/job-<id>/).
Once installed, every CUPS scheduler on the machine lists the simulated
printer as a device (rvtsim:/var/spool/rvtsim), which is why it is a
package of its own, to install for trying out or testing the driver.")

# The printer application, a service of its own: its system user is made by
# adduser, the PDF documents are rendered by Ghostscript's gs, and the
# maintainer scripts (packaging/rvt4410lw-printer-app/) make the user and
# the spool, and enable, start, stop and purge the service as debhelper's
# do.
set(CPACK_DEBIAN_APPLICATION_PACKAGE_NAME ${RVT_DEB_APP_NAME})
set(CPACK_DEBIAN_APPLICATION_PACKAGE_SECTION net)
set(CPACK_DEBIAN_APPLICATION_PACKAGE_DEPENDS "adduser, ghostscript")
set(CPACK_DEBIAN_APPLICATION_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_APPLICATION_PACKAGE_CONTROL_EXTRA
    ${RVT_PACKAGING_DIR}/${RVT_DEB_APP_NAME}/postinst
    ${RVT_PACKAGING_DIR}/${RVT_DEB_APP_NAME}/prerm
    ${RVT_PACKAGING_DIR}/${RVT_DEB_APP_NAME}/postrm)
set(CPACK_DEBIAN_APPLICATION_DESCRIPTION
"IPP Everywhere printer application for the RV-T4410LW printer
This package makes the RV-T4410LW, a 600 dpi monochrome printer with
two-sided printing and several paper trays, an IPP Everywhere printer on
the network: any IPP client, a CUPS driverless queue, phones and other
systems print to it without a driver of their own. It takes PWG raster,
Apple raster (URF), JPEG and PDF documents (PDF rendered by Ghostscript),
with the printer's options (paper size and source, media type, two-sided
printing, copies, darkness, scaling), and sends them to printers on USB,
which it adds by itself, or on the network (socket://HOST:9100).
.
rvt4410lw-printer-app runs as a systemd service on port 8631 under a user
of its own, with a web interface to add and set up printers; its
sub-commands add printers and list and cancel jobs from the command line.
It replaces the PPD and filter of printer-driver-rvt4410lw on systems
that no longer use them, and needs neither that package nor CUPS.")

include(CPack)

cpack_add_component_group(driver)
cpack_add_component_group(simulator)
cpack_add_component_group(application)
foreach(_rvt_component IN LISTS CPACK_COMPONENTS_ALL)
    if(_rvt_component MATCHES "^sim(-debian)?$")
        cpack_add_component(${_rvt_component} GROUP simulator)
    elseif(_rvt_component MATCHES "^app(-debian)?$")
        cpack_add_component(${_rvt_component} GROUP application)
    else()
        cpack_add_component(${_rvt_component} GROUP driver)
    endif()
endforeach()
