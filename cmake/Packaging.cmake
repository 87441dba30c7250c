# The Debian package: `cpack -G DEB` in a build directory packs what the
# install rules install, with the prefix /usr; the CUPS and udev files keep
# their absolute paths. One binary package, printer-driver-rvt4410lw.
#
#   cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build-pkg && (cd build-pkg && cpack -G DEB)
#
# The package's own files (copyright, changelog, lintian overrides) are
# installed by the component "debian", which only the package asks for: a
# plain `cmake --install` leaves them out.
include(GNUInstallDirs)

set(RVT_DEB_NAME printer-driver-rvt4410lw)
set(RVT_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The changelog's newest entry must name the version being packed.
file(STRINGS ${RVT_PACKAGING_DIR}/changelog _rvt_changelog_head LIMIT_COUNT 1)
if(NOT _rvt_changelog_head MATCHES "^${RVT_DEB_NAME} \\(${PROJECT_VERSION}\\) ")
    message(WARNING "packaging/changelog does not start with an entry for ${PROJECT_VERSION}: "
                    "add one before building the package")
endif()

# Debian wants the changelog compressed reproducibly (no name, no time stamp).
find_program(RVT_GZIP gzip REQUIRED)
add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND ${RVT_GZIP} -9n -c ${RVT_PACKAGING_DIR}/changelog
            > ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${RVT_PACKAGING_DIR}/changelog
    VERBATIM)
add_custom_target(rvt_deb_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)

set(_rvt_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${RVT_DEB_NAME})
install(FILES ${RVT_PACKAGING_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${_rvt_doc_dir}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${RVT_PACKAGING_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME ${RVT_DEB_NAME}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT debian EXCLUDE_FROM_ALL)

# Every component goes into the one package (the CUPS files, the tool, the
# man pages and udev rule of their folders, and the files above).
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${RVT_DEB_NAME})
set(CPACK_DEBIAN_PACKAGE_NAME ${RVT_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the RV-T4410LW driver developers")
set(CPACK_PACKAGE_CONTACT
    "RV-T4410LW driver developers <rvt4410lw-driver@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "printer driver for the RV-T4410LW monochrome printer")
# The synopsis comes from the summary; the long description follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"This package lets CUPS print on the RV-T4410LW, a 600 dpi monochrome
printer with two-sided printing and several paper trays:
 - printfilter-rvt4410lw, the CUPS filter that scales, mirrors and screens
   each page, compresses it with JBIG and sends it in the printer's own
   command stream, talking to the printer over the back channel;
 - the PPD with the job options (paper size, media type, tray, duplex,
   scaling, darkness), which CUPS offers for the printer by its device ID;
 - Tervane and tervane-cli, a window and a command-line tool that read and
   change the printer's network settings (DHCP or static IPv4) over USB,
   with a udev rule that lets the logged-in user reach the printer;
 - the rvtsim backend, a simulated printer that writes the pages it
   receives as images, to try the driver without the hardware.
Only the window needs a graphical session; everything else runs without one.")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The libraries come from dpkg-shlibdeps. The window needs a Qt platform
# plugin (xcb, wayland...), which libqt6gui6 only recommends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon | cups, cups-filters, ghostscript")

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${RVT_PACKAGING_DIR}/strip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# After the install, the printer if plugged in is announced again so that the
# udev rule gives the logged-in user access at once. There is no postrm: udevd
# forgets a removed rule by itself, and a postrm would keep the package in
# dpkg's "config-files" state after `dpkg -r` until it is purged.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${RVT_PACKAGING_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)

include(CPack)
