# The Debian package: where `cmake --install` puts each file, and CPack's DEB generator.
# scripts/package.sh builds the programs and the target quorvel_package_files, then runs cpack,
# which writes quorvel_<version>_<arch>.deb into the build folder. The package's own files
# (unit, desktop entry, icon, manual pages, maintainer scripts) live in packaging/.

set(QUORVEL_PACKAGE_BUILD "" CACHE STRING
  "A build number appended to the package version (0.1+N), so that a rebuilt package upgrades")
set(QUORVEL_PACKAGE_VERSION ${PROJECT_VERSION})
if(QUORVEL_PACKAGE_BUILD)
  string(APPEND QUORVEL_PACKAGE_VERSION "+${QUORVEL_PACKAGE_BUILD}")
endif()

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(pkg_doc share/doc/quorvel)

# Files made for the package: manual pages and the changelog compressed the way Debian wants
# them (gzip -9n: no name or time stamp), and the icon drawn at the sizes menus use.
set(pkg_files)
set(pkg_man_pages dunmir.8 qvsc.8 Quorvel.1 qvreg.1 qvparse.1 qvevent.1)
foreach(page ${pkg_man_pages})
  add_custom_command(OUTPUT ${pkg_out}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/man
    COMMAND gzip -9n -c ${pkg_src}/man/${page} > ${pkg_out}/man/${page}.gz
    DEPENDS ${pkg_src}/man/${page} VERBATIM)
  list(APPEND pkg_files ${pkg_out}/man/${page}.gz)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${pkg_out}/man/${page}.gz DESTINATION share/man/man${section})
endforeach()

configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
  COMMAND gzip -9n -c ${pkg_out}/changelog > ${pkg_out}/changelog.gz
  DEPENDS ${pkg_out}/changelog VERBATIM)
list(APPEND pkg_files ${pkg_out}/changelog.gz)

# Made with every build where rsvg-convert is there (scripts/setup.sh installs it), so that the
# package test can pack the build tree as it is.
find_program(QUORVEL_RSVG_CONVERT rsvg-convert)
set(pkg_all)
if(QUORVEL_RSVG_CONVERT)
  set(pkg_all ALL)
endif()
set(pkg_icon_sizes 16 22 24 32 48 64 128 256)
foreach(size ${pkg_icon_sizes})
  set(png ${pkg_out}/icons/${size}x${size}/quorvel.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}x${size}
    COMMAND ${QUORVEL_RSVG_CONVERT} -w ${size} -h ${size} ${pkg_src}/quorvel.svg -o ${png}
    DEPENDS ${pkg_src}/quorvel.svg VERBATIM)
  list(APPEND pkg_files ${png})
  install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quorvel_package_files ${pkg_all} DEPENDS ${pkg_files})

install(TARGETS dunmir Quorvel qvreg qvsc qvparse qvevent RUNTIME DESTINATION bin)
# The telephony provider that the programs load at run time: private, beside the programs.
install(TARGETS qvtapi LIBRARY DESTINATION lib/quorvel
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${pkg_src}/quorvel.service DESTINATION lib/systemd/system)
install(FILES ${pkg_src}/quorvel.desktop DESTINATION share/applications)
install(FILES ${pkg_src}/quorvel.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${pkg_src}/copyright ${pkg_out}/changelog.gz
  DESTINATION ${pkg_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${QUORVEL_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CONTACT "Quorvel maintainers <maintainers@users.noreply.c-seed-50e62287.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "syslog server with a live desktop viewer")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorvel receives syslog from routers, switches and servers over UDP, TCP
and TLS, runs the administrator's rules on every message (run a program,
write a file, forward, mail, raise an SNMP trap, write to a database),
watches event logs, files, pinged devices and traps, and keeps the most
recent messages in history files. The service dunmir runs as a hardened
systemd service under the system user quorvel; the Qt viewer Quorvel
shows its messages live to the members of the group quorvel.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library needs come from dpkg-shlibdeps. Named by hand only what it cannot see: adduser for
# the maintainer scripts, and the Qt platform plugins that the viewer loads at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc, snmp")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${pkg_src}/maintainer/postinst ${pkg_src}/maintainer/prerm ${pkg_src}/maintainer/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

if(QUORVEL_TESTS)
  # Packs this build tree and checks the package (the real one with QUORVEL_PACKAGE_TEST=1).
  add_test(NAME PackageContents COMMAND ${pkg_src}/package_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(PackageContents PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS package)
  # Installs, runs, upgrades and purges the package on this machine: only with QUORVEL_INSTALL_TEST=1.
  add_test(NAME PackageInstall COMMAND ${pkg_src}/install_test.sh ${PROJECT_SOURCE_DIR})
  set_tests_properties(PackageInstall PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1800 LABELS package
    RESOURCE_LOCK port514 RUN_SERIAL TRUE)
endif()
