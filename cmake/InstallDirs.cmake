# Where an installation puts things, known before the targets are defined so
# that the programs can find their parts relative to themselves.
# fwupgrade, its plug-in, the module manager and the programmer file live
# together in a folder of their own (/usr/lib/fwupgrade); only a link to the
# program goes to the program folder. cardsim is a program of its own.
include(GNUInstallDirs)

set(FWUP_INSTALL_PKGLIBDIR "lib/fwupgrade" CACHE STRING
    "Folder below the prefix for fwupgrade, its plug-in, the module manager and the programmer file")
# udev reads lib/udev/rules.d below /usr and below /usr/local.
set(FWUP_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING "Folder below the prefix for the udev rule")

# The program folder as seen from the private folder, for a link one way and
# the cardsim lookup the other, wherever the prefix is moved to.
file(RELATIVE_PATH FWUP_PKGLIBDIR_TO_BINDIR
     /prefix/${FWUP_INSTALL_PKGLIBDIR} /prefix/${CMAKE_INSTALL_BINDIR})
file(RELATIVE_PATH FWUP_BINDIR_TO_PKGLIBDIR
     /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${FWUP_INSTALL_PKGLIBDIR})

# Anything installed without a component goes with fwupgrade, not nowhere.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME fwupgrade)
