# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Files compressed as Debian wants them (gzip -9n: neither name nor time
# stamp, so every build gives the same bytes), and the manual pages, which
# are compressed that way beside their programs and installed into
# ${CMAKE_INSTALL_MANDIR}/man<section>.
#
#   rvt_gzip(<source> <output>)
#       A build rule making <output> from <source>; the caller's target
#       depends on <output>.
#   rvt_install_man_page(<page> <section> [COMPONENT <component>])
#       <page> is a file in the calling folder, e.g. tervane-cli.1.
include_guard(GLOBAL)
include(GNUInstallDirs)
find_program(RVT_GZIP gzip REQUIRED)

function(rvt_gzip source output)
    get_filename_component(dir ${output} DIRECTORY)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${RVT_GZIP} -9n -c ${source} > ${output}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
endfunction()

function(rvt_install_man_page page section)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "COMPONENT" "")
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    rvt_gzip(${CMAKE_CURRENT_SOURCE_DIR}/${page} ${compressed})
    add_custom_target(man_${page} ALL DEPENDS ${compressed})
    if(arg_COMPONENT)
        set(component COMPONENT ${arg_COMPONENT})
    endif()
    install(FILES ${compressed}
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
            ${component})
endfunction()
