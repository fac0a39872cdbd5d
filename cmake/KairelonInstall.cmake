# Install rules: `cmake --install build [--prefix P]`, honouring DESTDIR.
#
# Programs, systemd units (configured at install time with the programs' installed paths, see
# InstallUnits.cmake.in), sysusers.d and tmpfiles.d entries under <prefix>/lib, manual pages
# (compressed) and documentation. The settings folder /var/lib/kairelon is fixed in the
# programs and does not follow the prefix.
# Window files (desktop entry, icons, help) are added at the end as they come.
include(GNUInstallDirs)
# The documentation folder is named after the package, in lower case.
if(CMAKE_INSTALL_DOCDIR STREQUAL "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME}")
    set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kairelon)
endif()
set(KAIRELON_MAINTAINER "Kairelon maintainers <maintainers@kairelon.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

# Empty: /lib/systemd/system for a prefix of /usr, <prefix>/lib/systemd/system otherwise.
set(KAIRELON_SYSTEMD_UNITDIR "" CACHE PATH "Folder of the systemd units")
set(KAIRELON_UNITS kairelon-clockd kairelon-daytimed kairelon-headless)
configure_file(cmake/InstallUnits.cmake.in ${PROJECT_BINARY_DIR}/InstallUnits.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/InstallUnits.cmake)
install(FILES resources/systemd/kairelon.sysusers DESTINATION lib/sysusers.d RENAME kairelon.conf)
install(FILES resources/systemd/kairelon.tmpfiles DESTINATION lib/tmpfiles.d RENAME kairelon.conf)

install(TARGETS kairelon kairelon-tray RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kairelon-clockd kairelon-daytimed RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

# Manual pages: the version filled in, compressed as man-db and Debian expect.
find_program(KAIRELON_GZIP gzip REQUIRED)
set(_man_pages kairelon.1 kairelon-tray.1 kairelon-clockd.8 kairelon-daytimed.8)
set(_man_outputs)
set(VERSION ${PROJECT_VERSION})
foreach(_page IN LISTS _man_pages)
    string(REGEX REPLACE ".*\\.([0-9])$" "\\1" _section ${_page})
    configure_file(${PROJECT_SOURCE_DIR}/resources/man/${_page} ${PROJECT_BINARY_DIR}/man/${_page}
                   @ONLY)
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/man/${_page}.gz
        COMMAND ${KAIRELON_GZIP} -9nc ${PROJECT_BINARY_DIR}/man/${_page} >
                ${PROJECT_BINARY_DIR}/man/${_page}.gz
        DEPENDS ${PROJECT_BINARY_DIR}/man/${_page}
        COMMENT "Compressing the manual page ${_page}")
    list(APPEND _man_outputs ${PROJECT_BINARY_DIR}/man/${_page}.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/${_page}.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section})
endforeach()
add_custom_target(kairelon_man ALL DEPENDS ${_man_outputs})

# The licence: as "copyright" in a Debian package, which also carries a change log.
option(KAIRELON_DEBIAN_DOCS "Install the documentation as a Debian package lays it out" OFF)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The settings files, for the administrator (the README links it at this relative path).
install(FILES docs/settings.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
if(KAIRELON_DEBIAN_DOCS)
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
    string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
    file(WRITE ${PROJECT_BINARY_DIR}/debian/changelog
         "kairelon (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
         "  * Package built from the source tree with scripts/package.sh.\n\n"
         " -- ${KAIRELON_MAINTAINER}  ${_date}\n")
    add_custom_command(
        OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
        COMMAND ${KAIRELON_GZIP} -9nc ${PROJECT_BINARY_DIR}/debian/changelog >
                ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog)
    add_custom_target(kairelon_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(FILES resources/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME kairelon)
else()
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Window program files (desktop entry, autostart entry, icons, help) go here.
install(FILES resources/help/Kairelon.html DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES resources/icons/kairelon.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
# The applications menu entry, and the icon in the hicolor theme at the usual sizes: 16 pixels
# is the picture drawn pixel by pixel, the others are the scalable drawing rendered at build time.
install(FILES resources/desktop/kairelon.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
add_executable(kairelon-icon-png resources/icons/IconPng.cpp)
target_link_libraries(kairelon-icon-png PRIVATE Qt6::Gui Qt6::Svg)
set(KAIRELON_ICON_SIZES 16 22 24 32 48 64 128 256)
set(_icon_outputs)
foreach(_size IN LISTS KAIRELON_ICON_SIZES)
    set(_source ${PROJECT_SOURCE_DIR}/resources/icons/kairelon.svg)
    if(_size EQUAL 16)
        set(_source ${PROJECT_SOURCE_DIR}/resources/icons/tna_icon_1.xpm)
    endif()
    set(_png ${PROJECT_BINARY_DIR}/icons/${_size}x${_size}/kairelon.png)
    add_custom_command(
        OUTPUT ${_png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icons/${_size}x${_size}
        COMMAND kairelon-icon-png ${_source} ${_size} ${_png}
        DEPENDS kairelon-icon-png ${_source}
        COMMENT "Rendering the ${_size} x ${_size} icon")
    list(APPEND _icon_outputs ${_png})
    install(FILES ${_png}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()
add_custom_target(kairelon_icons ALL DEPENDS ${_icon_outputs})
# The autostart entry under <sysconfdir>/xdg/autostart, decided at install time when the prefix
# is certain: /etc for a prefix of /usr (where the session reads it), <prefix>/etc otherwise. It
# keeps the menu entry's file name, so a user's own ~/.config/autostart/kairelon.desktop with
# Hidden=true switches it off.
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(_autostart /etc/xdg/autostart)
    else()
        set(_autostart \"\${CMAKE_INSTALL_PREFIX}/etc/xdg/autostart\")
    endif()
    file(INSTALL DESTINATION \"\${_autostart}\" TYPE FILE
         RENAME kairelon.desktop
         FILES \"${PROJECT_SOURCE_DIR}/resources/desktop/kairelon-autostart.desktop\")
")
