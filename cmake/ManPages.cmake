# Manual pages beside their programs, compressed at build time as Debian
# wants them (gzip -9n: neither name nor time stamp, so every build gives the
# same bytes) and installed into ${CMAKE_INSTALL_MANDIR}/man<section>.
#
#   rvt_install_man_page(<page> <section> [COMPONENT <component>])
#
# <page> is a file in the calling folder, e.g. tervane-cli.1.
include(GNUInstallDirs)
find_program(RVT_GZIP gzip REQUIRED)

function(rvt_install_man_page page section)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "COMPONENT" "")
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${RVT_GZIP} -9n -c ${source} > ${compressed}
        DEPENDS ${source}
        COMMENT "Compressing the manual page ${page}"
        VERBATIM)
    add_custom_target(man_${page} ALL DEPENDS ${compressed})
    if(arg_COMPONENT)
        set(component COMPONENT ${arg_COMPONENT})
    endif()
    install(FILES ${compressed}
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
            ${component})
endfunction()
