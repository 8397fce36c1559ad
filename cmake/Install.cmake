# Where an install puts the program and its data, and where the program looks
# for its data at run time.
#
# Two layouts: the GNU one (bin/, share/zbx3d) for installs from source, and
# the Debian games one (games/, share/games/zbx3d) for the package.
include(GNUInstallDirs)

option(ZBX_GAMES_LAYOUT "Install as a Debian game: the program in games/, the data under share/games" OFF)
if(ZBX_GAMES_LAYOUT)
  set(ZBX_INSTALL_BINDIR games)
  set(ZBX_INSTALL_DATADIR ${CMAKE_INSTALL_DATAROOTDIR}/games)
else()
  set(ZBX_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(ZBX_INSTALL_DATADIR ${CMAKE_INSTALL_DATAROOTDIR})
endif()

cmake_path(ABSOLUTE_PATH ZBX_INSTALL_BINDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
  OUTPUT_VARIABLE ZBX_FULL_BINDIR)
cmake_path(ABSOLUTE_PATH ZBX_INSTALL_DATADIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
  OUTPUT_VARIABLE ZBX_FULL_DATADIR)

# The compiled-in data prefix: tried first at run time. Empty means "where
# this build installs its data".
set(ZBX3D_DATA_PREFIX "" CACHE STRING "Compiled-in data prefix (empty: the install's data folder)")
if(ZBX3D_DATA_PREFIX)
  set(ZBX_DATA_PREFIX ${ZBX3D_DATA_PREFIX})
else()
  set(ZBX_DATA_PREFIX ${ZBX_FULL_DATADIR})
endif()
# The data folder seen from the program's folder: an install moved or unpacked
# elsewhere as a whole still finds its data.
file(RELATIVE_PATH ZBX_RELATIVE_DATADIR ${ZBX_FULL_BINDIR} ${ZBX_FULL_DATADIR})

# Configuration and service files: under the prefix for a source install,
# where the system keeps them for the package.
if(ZBX_GAMES_LAYOUT)
  set(ZBX_INSTALL_SYSCONFDIR /etc)
  set(ZBX_INSTALL_UNITDIR /lib/systemd/system)
else()
  set(ZBX_INSTALL_SYSCONFDIR ${CMAKE_INSTALL_SYSCONFDIR})
  set(ZBX_INSTALL_UNITDIR ${CMAKE_INSTALL_LIBDIR}/systemd/system)
endif()
cmake_path(ABSOLUTE_PATH ZBX_INSTALL_SYSCONFDIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
  OUTPUT_VARIABLE ZBX_FULL_SYSCONFDIR)
