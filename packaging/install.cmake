# Installation and the Debian package (packaging/build-deb.sh). The layout: ovhost in bin, its
# runtime libraries and the standard plug-ins in lib/ovhost (ovhost's RUNPATH), the plug-in
# headers in include/ovhost, the service, logrotate and fail2ban files in their system places.
set(_ov_pkg ${CMAKE_CURRENT_LIST_DIR})
set(_ov_dist ${CMAKE_SOURCE_DIR}/dist)

install(TARGETS ovhost RUNTIME DESTINATION bin)
install(TARGETS ovui ovtapi LIBRARY DESTINATION lib/ovhost NAMELINK_SKIP)
install(TARGETS jotbox ttypick pagepeek doorway LIBRARY DESTINATION lib/ovhost)
install(TARGETS ovhost-firstrun RUNTIME DESTINATION lib/ovhost)

install(FILES ${CMAKE_SOURCE_DIR}/sdk/ovbbs.h ${CMAKE_SOURCE_DIR}/sdk/ovtypes.h
              ${CMAKE_SOURCE_DIR}/sdk/ovui.h ${CMAKE_SOURCE_DIR}/sdk/ovplugin.h
        DESTINATION include/ovhost)
install(FILES ${_ov_pkg}/ovtapi.conf.sample DESTINATION share/doc/ovhost)
install(FILES ${CMAKE_SOURCE_DIR}/platform/telephony/README.md DESTINATION share/doc/ovhost
        RENAME MODEMS.md)
install(FILES ${CMAKE_SOURCE_DIR}/sdk/README.md DESTINATION share/doc/ovhost RENAME SDK.md)
install(FILES ${CMAKE_SOURCE_DIR}/sdk/example/hello.c DESTINATION share/doc/ovhost/examples)

# Manual pages are installed compressed, as Debian keeps them.
set(_ov_man ${CMAKE_BINARY_DIR}/packaging/ovhost.8.gz)
add_custom_command(OUTPUT ${_ov_man}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9n -c ${_ov_pkg}/ovhost.8 > ${_ov_man}
    DEPENDS ${_ov_pkg}/ovhost.8
    VERBATIM)
add_custom_target(ovhost_man ALL DEPENDS ${_ov_man})
install(FILES ${_ov_man} DESTINATION share/man/man8)

# Absolute places: the package owns these paths whatever the prefix.
install(FILES ${_ov_dist}/ovhost.service DESTINATION /lib/systemd/system)
install(FILES ${_ov_dist}/logrotate/ovhost DESTINATION /etc/logrotate.d)
install(FILES ${_ov_dist}/fail2ban/filter.d/ovhost.conf DESTINATION /etc/fail2ban/filter.d)
install(FILES ${_ov_dist}/fail2ban/jail.d/ovhost.conf DESTINATION /etc/fail2ban/jail.d)

# The package. cpack installs what is already built: build first (packaging/build-deb.sh).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ovhost)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ossivane BBS maintainers <maintainers@ossivane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "multi-user bulletin board server for Telnet and modem callers")
set(CPACK_PACKAGE_DESCRIPTION
    "Ossivane BBS answers callers over Telnet and on Hayes-compatible data
modems, gives each a login, optional account creation and a tree of areas
with plug-in extensions. The sysop runs it through a console in the web
browser.

The package installs the server ovhost, its runtime libraries, the memo,
terminal type, file viewer and door plug-ins, the plug-in headers, a systemd
service (not enabled), log rotation, and a fail2ban filter and jail
(switched off).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "logrotate")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fail2ban")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_ov_pkg}/debian/postinst ${_ov_pkg}/debian/prerm ${_ov_pkg}/debian/postrm
    ${_ov_pkg}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
