# Installation and the Debian packages.
#   fwupgrade:         /usr/lib/fwupgrade/ holds the program, the plug-in, the
#                      module manager and the flash programmer file;
#                      /usr/bin/fwupgrade links to the program; the udev rule,
#                      the man page, the bash completion and the docs.
#   fwupgrade-cardsim: /usr/bin/cardsim, the virtual card (fwupgrade demo).
# (fwupgrade itself and its link are installed from host/fwupgrade.)
# On Windows the plug-in and the manager go to the program folder as before.
if(WIN32)
  set(fwup_private_dir ${CMAKE_INSTALL_BINDIR})
else()
  set(fwup_private_dir ${FWUP_INSTALL_PKGLIBDIR})
endif()

install(TARGETS FWUpgradeDataCDMAW326 fw_hostmanager
  LIBRARY DESTINATION ${fwup_private_dir}
  RUNTIME DESTINATION ${fwup_private_dir}
  COMPONENT fwupgrade)

# The program and the virtual card are POSIX tools (cardsim runs on a
# pseudo-terminal); fwupgrade is built with the tools.
set(fwup_has_program OFF)
if(FWUP_BUILD_TOOLS AND NOT WIN32)
  set(fwup_has_program ON)
endif()

# The plug-in writes the programmer it carries next to its host when the file
# there does not already hold the same bytes. Shipping it means an installed
# run writes nothing, whoever runs it.
if(fwup_has_program)
  install(FILES ${FWUP_PROGRAMMER_BIN} DESTINATION ${fwup_private_dir} COMPONENT fwupgrade)
endif()

if(NOT WIN32)
  install(TARGETS cardsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cardsim)
endif()

# The program's own files, with the program.
if(fwup_has_program)
  set(fwup_packaging ${PROJECT_SOURCE_DIR}/packaging)
  set(fwup_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/fwupgrade)
  install(FILES ${fwup_packaging}/70-fwupgrade.rules DESTINATION ${FWUP_INSTALL_UDEVRULESDIR} COMPONENT fwupgrade)
  install(FILES ${fwup_packaging}/fwupgrade.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME fwupgrade COMPONENT fwupgrade)
  install(FILES ${fwup_packaging}/copyright ${PROJECT_SOURCE_DIR}/host/fwupgrade/README.md
    DESTINATION ${fwup_docdir} COMPONENT fwupgrade)
  install(FILES ${fwup_packaging}/fwupgrade-station.service DESTINATION ${fwup_docdir}/examples COMPONENT fwupgrade)
  install(FILES ${fwup_packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/fwupgrade-cardsim
    COMPONENT cardsim)
  install(FILES ${fwup_packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME fwupgrade COMPONENT fwupgrade)

  # Man pages and the changelog are installed compressed, as Debian has
  # them; gzip -n keeps the build time out of the bytes.
  find_program(FWUP_GZIP gzip REQUIRED)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/packaging)
  foreach(name fwupgrade.1 cardsim.1 changelog)
    add_custom_command(OUTPUT ${compressed}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed}
      COMMAND ${FWUP_GZIP} -9 -n -c ${fwup_packaging}/${name} > ${compressed}/${name}.gz
      DEPENDS ${fwup_packaging}/${name}
      VERBATIM)
  endforeach()
  add_custom_target(fwup_compressed_docs ALL
    DEPENDS ${compressed}/fwupgrade.1.gz ${compressed}/cardsim.1.gz ${compressed}/changelog.gz)
  install(FILES ${compressed}/fwupgrade.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT fwupgrade)
  install(FILES ${compressed}/changelog.gz DESTINATION ${fwup_docdir} COMPONENT fwupgrade)
  install(FILES ${compressed}/cardsim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cardsim)
  install(FILES ${compressed}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/fwupgrade-cardsim
    COMPONENT cardsim)
endif()

set(CPACK_PACKAGE_NAME "fwupgrade")
set(CPACK_PACKAGE_VENDOR "vek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No mail address of the maintainers is known yet: .invalid says so.
set(FWUP_PACKAGE_MAINTAINER "fwupgrade maintainers <fwupgrade@vek.invalid>" CACHE STRING
    "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${FWUP_PACKAGE_MAINTAINER}")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL fwupgrade cardsim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FWUP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# dpkg-shlibdeps (dpkg-dev) works the library dependencies out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_FWUPGRADE_PACKAGE_NAME "fwupgrade")
# The udev rule takes effect for cards already plugged in. (These also stand
# in for the ldconfig call CPack would add for libraries below /usr/lib: the
# plug-in and the manager are private, ldconfig does not look there.)
set(CPACK_DEBIAN_FWUPGRADE_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_FWUPGRADE_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# postinst makes the group fwupgrade with addgroup.
set(CPACK_DEBIAN_FWUPGRADE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_CARDSIM_PACKAGE_NAME "fwupgrade-cardsim")
set(CPACK_DEBIAN_CARDSIM_PACKAGE_SECTION "devel")
# Only `fwupgrade demo` needs the virtual card; flashing real cards does not.
set(CPACK_DEBIAN_FWUPGRADE_PACKAGE_SUGGESTS "fwupgrade-cardsim (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CARDSIM_PACKAGE_ENHANCES "fwupgrade")
set(CPACK_COMPONENT_FWUPGRADE_DESCRIPTION
"firmware upgrade of W326 USB CDMA data cards
fwupgrade flashes W326 USB CDMA data cards from a firmware package folder
through the card's upgrade plug-in, several cards at once if need be. It
keeps each card's NV items, Wi-Fi address and lock files before the card is
wiped and gives them back afterwards, and brings back a card that an
interrupted run left behind.
.
The package also holds a udev rule that gives the user at the seat access
to the cards' serial ports.")
set(CPACK_COMPONENT_CARDSIM_DESCRIPTION
"virtual W326 data card for fwupgrade
cardsim acts as a W326 USB CDMA data card on a pseudo-terminal: its
firmware, boot downloader and flash programmer, with faults on request. It
also makes test firmware packages. fwupgrade demo flashes it end to end.")
include(CPack)
