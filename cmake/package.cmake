# Debian packages, made by `cpack` in the build tree: tarnex-viravi (the
# "client" component of cmake/install.cmake) and ruxd-sim (the "sim"
# component, which needs the example cluster of tarnex-viravi), both under
# /usr. Their run-time dependencies are read by dpkg-shlibdeps (package
# dpkg-dev) off the shared libraries the programs actually link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnex-viravi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tarnex-viravi developers <tarnex-viravi@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator's client of the Tarnex storage cluster")

# Installed with the prefix /usr into a staging root: the sample settings
# file then goes to /etc, where the client looks.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client)
if(TARGET ruxd-sim)
  list(APPEND CPACK_COMPONENTS_ALL sim)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Programs without their debugging information, as distributions ship them.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tarnex-viravi)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
  "operator's client of the Tarnex storage cluster
 tarnex-viravi asks the cluster daemon for the state of nodes and services
 and starts, stops, moves, enables and disables them. With its manual page,
 bash and zsh completion, a sample settings file and an example cluster.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME ruxd-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_SIM_DEPENDS client)
set(CPACK_COMPONENT_SIM_DESCRIPTION
  "simulated Tarnex cluster daemon for trying and rehearsing
 ruxd-sim keeps a cluster in memory and answers the requests of
 tarnex-viravi as the cluster daemon does; service starts and stops take
 time and can be broken off, and nodes, services and the daemon itself can be
 made to fail, to rehearse the operator's work.")

include(CPack)
