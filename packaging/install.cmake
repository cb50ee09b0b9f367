# What `cmake --install` puts under a prefix, and the Debian package CPack
# builds from the same rules:
#   bin/dravik
#   share/man/man1/dravik.1.gz   (help2man over --help/--version, through
#                                 packaging/man-help.sh, plus packaging/dravik.h2m;
#                                 a cross build installs DRAVIK_MAN_PAGE)
#   share/bash-completion/completions/dravik
#   share/doc/dravik/{README.md,copyright,changelog.gz}
#   share/doc/dravik/examples/dravik-alerts.yml   (Prometheus alerting rules)
#   share/lintian/overrides/dravik
#   lib/systemd/system/dravik-scan.{service,timer}   (the scheduled scan)
#   etc/default/dravik             (its options; /etc/default/dravik under /usr)
#   /var/lib/dravik                (its history; under the prefix /usr only)
#   /var/lib/prometheus/node-exporter  (where its metrics go, so the default
#                                  options work before node-exporter is installed)
# The package is built with the prefix /usr (tools/package.sh), so the unit
# names /usr/bin/dravik and /etc/default/dravik. Its control area adds
# conffiles and the maintainer scripts packaging/{postinst,prerm,postrm}.
include(GNUInstallDirs)

set(DRAVIK_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(DRAVIK_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/dravik)

install(TARGETS dravik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${DRAVIK_PACKAGING_DIR}/dravik.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
  RENAME dravik)

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${DRAVIK_PACKAGING_DIR}/copyright
  DESTINATION ${DRAVIK_DOC_DIR})

install(FILES ${DRAVIK_PACKAGING_DIR}/dravik-alerts.yml DESTINATION ${DRAVIK_DOC_DIR}/examples)

# The scheduled scan: the service names the installed binary and options
# file. Under the prefix /usr the options go to /etc and the history folder
# is /var/lib/dravik; under any other prefix both stay inside it and systemd
# makes /var/lib/dravik (StateDirectory=) when the scan first starts.
set(DRAVIK_BINARY ${CMAKE_INSTALL_FULL_BINDIR}/dravik)
set(DRAVIK_DEFAULTS ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/dravik)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(dravik_sysconf_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR})
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/dravik)
  # The textfile collector's folder (shared with prometheus-node-exporter):
  # without it the default --metrics path could not be written and every
  # scheduled scan would fail before node-exporter is installed.
  install(DIRECTORY DESTINATION ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/prometheus/node-exporter)
else()
  set(dravik_sysconf_dir ${CMAKE_INSTALL_SYSCONFDIR})
endif()
configure_file(${DRAVIK_PACKAGING_DIR}/dravik-scan.service.in
  ${CMAKE_BINARY_DIR}/dravik-scan.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dravik-scan.service ${DRAVIK_PACKAGING_DIR}/dravik-scan.timer
  DESTINATION lib/systemd/system)
install(FILES ${DRAVIK_PACKAGING_DIR}/dravik.default
  DESTINATION ${dravik_sysconf_dir}/default RENAME dravik)

# The binary is static on purpose; lintian is told so.
install(FILES ${DRAVIK_PACKAGING_DIR}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
  RENAME dravik)

# Compressed without names or timestamps (gzip -n), so the package is the same
# whenever it is built; help2man dates the page from SOURCE_DATE_EPOCH when the
# environment sets it.
find_program(DRAVIK_HELP2MAN help2man)
find_program(DRAVIK_GZIP gzip)
# A cross build's binary does not run here: it installs the page another
# build made (--help and --version read the same on every processor;
# tools/package.sh hands over the x86-64 build's page). Sanitizer builds ship
# nothing and their binaries need not run everywhere.
set(DRAVIK_MAN_PAGE "" CACHE FILEPATH "A ready dravik.1.gz to install instead of running help2man")
if(DRAVIK_MAN_PAGE)
  if(NOT EXISTS ${DRAVIK_MAN_PAGE})
    message(FATAL_ERROR "DRAVIK_MAN_PAGE: there is no ${DRAVIK_MAN_PAGE}")
  endif()
  install(FILES ${DRAVIK_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 RENAME dravik.1.gz)
elseif(CMAKE_CROSSCOMPILING)
  message(STATUS "No man page is installed: a cross build needs DRAVIK_MAN_PAGE")
elseif(DRAVIK_HELP2MAN AND DRAVIK_GZIP AND NOT DRAVIK_SANITIZE)
  set(man_page ${CMAKE_BINARY_DIR}/dravik.1)
  add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E env DRAVIK_BINARY=$<TARGET_FILE:dravik>
            ${DRAVIK_HELP2MAN} --no-info --section=1
            --include=${DRAVIK_PACKAGING_DIR}/dravik.h2m
            --output=${man_page} ${DRAVIK_PACKAGING_DIR}/man-help.sh
    COMMAND ${DRAVIK_GZIP} -9nf ${man_page}
    DEPENDS dravik ${DRAVIK_PACKAGING_DIR}/dravik.h2m ${DRAVIK_PACKAGING_DIR}/man-help.sh
    VERBATIM)
  add_custom_target(dravik_man ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "No man page is built or installed (no help2man or gzip, or a sanitizer build)")
endif()

set(changelog ${CMAKE_BINARY_DIR}/changelog)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${DRAVIK_PACKAGING_DIR}/changelog ${changelog}
  COMMAND ${DRAVIK_GZIP} -9nf ${changelog}
  DEPENDS ${DRAVIK_PACKAGING_DIR}/changelog
  VERBATIM)
add_custom_target(dravik_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${DRAVIK_DOC_DIR})

# The Debian package: one static binary, so it depends on nothing.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Dravik developers")
set(CPACK_PACKAGE_CONTACT "Dravik maintainers <dravik-maintainers@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "userspace RAM tester for a Linux box that stays up")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
# Debian's name for the processor the build is for.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(dravik_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(armv7l|armv7|arm|armhf)$")
  set(dravik_deb_arch armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
  set(dravik_deb_arch amd64)
else()
  message(FATAL_ERROR "No Debian architecture for the processor ${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CPACK_DEBIAN_FILE_NAME dravik_${PROJECT_VERSION}_${dravik_deb_arch}.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${dravik_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://example.org/dravik)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# CPack puts the summary first and indents the lines; an empty line separates
# paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Dravik tests the free memory of a Linux box while the box keeps serving its
users: it locks regions of the memory the kernel reports as available, runs
pattern tests over them, re-reads every mismatch, classifies it as hard or
transient and, run as root, ties it to a physical address.

It also measures memory bandwidth and latency (--bench) and checks itself
with a planted fault (--selftest). The binary is fully static, so the same
file runs on a NAS whatever C library its firmware has.

A monthly systemd timer (dravik-scan.timer, shipped disabled) runs the scan
while the box serves and leaves its result in the journal, in metrics for
node-exporter's textfile collector and in a kept history.")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS prometheus-node-exporter)
# The scan's options file is the administrator's: an upgrade keeps their edits.
# The maintainer scripts (packaging/postinst, prerm, postrm) tell systemd of
# the units, stop and disable the timer on removal and clear the history on
# purge; the strict permissions make them 0755 and conffiles 0644.
file(WRITE ${CMAKE_BINARY_DIR}/conffiles "${DRAVIK_DEFAULTS}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/conffiles
  ${DRAVIK_PACKAGING_DIR}/postinst ${DRAVIK_PACKAGING_DIR}/prerm ${DRAVIK_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
