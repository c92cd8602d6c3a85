# Installing the launcher: binaries, the module ABI header, the desktop entry that makes the
# launcher the handler of the shop's link scheme, manual pages, and the Debian package
# (`make package`). Included from the top CMakeLists after every target exists.
include(GNUInstallDirs)

# Each shop brands its own links (QUORLA_URL_SCHEME); the scheme only reaches the desktop
# entry, the package's maintainer scripts and the manual pages, since the launcher itself
# accepts any scheme. CMakeLists checks it.

# Debian wants a maintainer who can be written to: the packager's own name and address, as
# Debian's tools take them from DEBFULLNAME and DEBEMAIL, else the project's.
if(DEFINED ENV{DEBEMAIL} AND NOT "$ENV{DEBEMAIL}" STREQUAL "" AND NOT "$ENV{DEBEMAIL}" MATCHES "[<>]")
  set(quorla_default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
  string(STRIP "${quorla_default_maintainer}" quorla_default_maintainer)
else()
  set(quorla_default_maintainer "QuorlaLauncher developers <quorla-launcher@example.org>")
endif()
set(QUORLA_PACKAGE_MAINTAINER "${quorla_default_maintainer}" CACHE STRING
    "Maintainer field of the Debian package: Name <address>")
# Build folders configured before carry the old default, which no mail reaches.
if(QUORLA_PACKAGE_MAINTAINER STREQUAL "QuorlaLauncher developers <quorla-launcher@localhost>")
  set_property(CACHE QUORLA_PACKAGE_MAINTAINER PROPERTY VALUE "${quorla_default_maintainer}")
endif()
if(NOT QUORLA_PACKAGE_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$"
   OR QUORLA_PACKAGE_MAINTAINER MATCHES "@localhost")
  message(FATAL_ERROR "QUORLA_PACKAGE_MAINTAINER must read 'Name <address>' with an address mail can "
                      "reach, got: '${QUORLA_PACKAGE_MAINTAINER}'")
endif()

set(quorla_install_out ${CMAKE_BINARY_DIR}/install)
set(QUORLA_DESKTOP_FILE quorla-launcher.desktop)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorla-launcher.desktop.in ${quorla_install_out}/${QUORLA_DESKTOP_FILE} @ONLY)
foreach(script postinst postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${script}.in ${quorla_install_out}/deb/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
endforeach()

# Manual pages carry the built scheme and version, and are installed compressed as Debian
# expects them (gzip -n: no name or time stamp, so equal sources give equal files).
# The launcher's page names the folder of the installed desktop entry, which only the install
# knows (`cmake --install --prefix`): the placeholder survives until then.
set(QUORLA_APPLICATIONS_DIR "@QUORLA_APPLICATIONS_DIR@")
set(quorla_man_pages "")
foreach(page quorla-launcher.1 quorla-pack.1)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${page}.in ${quorla_install_out}/${page} @ONLY)
  add_custom_command(OUTPUT ${quorla_install_out}/${page}.gz
    COMMAND gzip -9 -n -f -k ${quorla_install_out}/${page}
    DEPENDS ${quorla_install_out}/${page} VERBATIM)
  list(APPEND quorla_man_pages ${quorla_install_out}/${page}.gz)
endforeach()
add_custom_target(quorla_man_pages ALL DEPENDS ${quorla_man_pages})

install(TARGETS quorla-launcher quorla-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/module/editor_module.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorla)
install(FILES ${quorla_install_out}/${QUORLA_DESKTOP_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${quorla_install_out}/quorla-pack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(CODE "
  set(QUORLA_APPLICATIONS_DIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\")
  # A long prefix may break after any slash rather than overrun the line, and is never
  # hyphenated.
  string(REPLACE \"/\" \"/\\\\:\" QUORLA_APPLICATIONS_DIR \"\\\\%\${QUORLA_APPLICATIONS_DIR}\")
  set(page \"${quorla_install_out}/installed/quorla-launcher.1\")
  configure_file(\"${quorla_install_out}/quorla-launcher.1\" \"\${page}\" @ONLY)
  execute_process(COMMAND gzip -9 -n -f -k \"\${page}\" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"gzip failed on \${page}\")
  endif()
  file(INSTALL \"\${page}.gz\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1\")
")
# The licence, where Debian looks for it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${QUORLA_PACKAGE_NAME})

# The Debian package. Its run-time dependencies come from what the binaries link
# (dpkg-shlibdeps), plus xdg-utils, which the maintainer scripts and the return to the shop
# page need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUORLA_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${QUORLA_VERSION})
set(CPACK_PACKAGE_VENDOR "QuorlaLauncher")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Opens a web shop's editor from the shop's ${QUORLA_URL_SCHEME}:// links")
# The summary is the first line of the description.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "The launcher that a web shop starts through its ${QUORLA_URL_SCHEME}:// links: it\n"
       "downloads the startup document of a work, brings the shop's editor module up to\n"
       "date, runs it, delivers the cart key to the shop and returns the customer to the\n"
       "shop page. Also contains quorla-pack, the shop's tool for packing editor module\n"
       "updates.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORLA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
# update-desktop-database refreshes the scheme's entry in the desktop database. The customer's
# messages are Korean: without a font that covers Hangul the message box shows empty boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "desktop-file-utils, fonts-noto-cjk | fonts-nanum")
# Every shop's package installs the same files: one at a time.
set(CPACK_DEBIAN_PACKAGE_PROVIDES "quorla-launcher-files")
set(CPACK_DEBIAN_PACKAGE_CONFLICTS "quorla-launcher-files")
# quorla-pack writes cabinets with gcab.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gcab")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${quorla_install_out}/deb/postinst ${quorla_install_out}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
