# Installation and the Debian package: the plug-in and the module manager go
# to the library folder, fwupgrade and cardsim to the program folder.
# (fwupgrade installs itself from host/fwupgrade.)
include(GNUInstallDirs)

if(TARGET FWUpgradeDataCDMAW326)
  install(TARGETS FWUpgradeDataCDMAW326
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET fw_hostmanager)
  install(TARGETS fw_hostmanager
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET cardsim)
  install(TARGETS cardsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The demo of fwupgrade starts the virtual card; build it along.
  if(TARGET fwupgrade)
    add_dependencies(fwupgrade cardsim)
  endif()
endif()

set(CPACK_PACKAGE_NAME "fwupgrade")
set(CPACK_PACKAGE_VENDOR "vek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade of W326 USB CDMA data cards: plug-in, host program and virtual card")
set(CPACK_PACKAGE_CONTACT "fwupgrade maintainers <fwupgrade@localhost>")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "fwupgrade maintainers <fwupgrade@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps is not on every build machine; the dependencies are few.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
include(CPack)
