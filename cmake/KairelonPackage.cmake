# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh wraps it).
#
# Everything `cmake --install` installs, stripped, with the dependencies computed from the
# programs' libraries and maintainer scripts that create the group, the user of the headless
# scheduler and /var/lib/kairelon on install, reload systemd, and stop and disable the units
# on removal.
set(CPACK_PACKAGE_NAME kairelon)
set(CPACK_PACKAGE_VENDOR "The Kairelon developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the clock right with the Daytime Protocol")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kairelon)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# The install rules see the real prefix (the units name it) and DESTDIR the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_NAME kairelon)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KAIRELON_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis is the summary above; CPack indents this text and marks its empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kairelon asks a time server for the time with the Daytime Protocol (RFC 867),
refuses changes larger than a configured maximum and sets the clock directly or
through a small privileged clock-setting service, on a schedule behind a tray
icon or without a display.

The package holds the program kairelon, the clock-setting service
kairelon-clockd for the members of the group kairelon, the daytime server
kairelon-daytimed, and systemd units for both services and for the scheduler
without a display.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The group, the user and the folder come from the sysusers.d and tmpfiles.d entries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "systemd | systemd-standalone-sysusers | systemd-sysusers, systemd | systemd-standalone-tmpfiles")
# The display plug-ins: X11 (qt6-qpa-plugins) and Wayland (qt6-wayland) sessions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/debian/postinst ${PROJECT_SOURCE_DIR}/resources/debian/prerm
    ${PROJECT_SOURCE_DIR}/resources/debian/postrm
    # The autostart entry lies under /etc: a configuration file that an upgrade keeps.
    ${PROJECT_SOURCE_DIR}/resources/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
