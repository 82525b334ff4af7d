# Debian packages, made by `cpack` in the build tree, one for each install
# component that has anything to install (the rows below). Every package
# gets, besides its component's files: its copyright file and changelog in
# /usr/share/doc/<package>/, its configuration files declared (from
# tarnex_package_conffile), the maintainer scripts of its systemd units (from
# tarnex_install_systemd_unit), and the maintainer TARNEX_MAINTAINER. Their
# run-time dependencies are read by dpkg-shlibdeps (package dpkg-dev) off
# the shared libraries the programs actually link. lintian checks them in CI.
set(TARNEX_MAINTAINER "Tarnex Viravi maintainers <maintainers@tarnex-viravi.example>"
  CACHE STRING "Maintainer field of the Debian packages: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnex-viravi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARNEX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNEX_MAINTAINER}")
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: cpack would put it before every
# package's own summary line.

# Installed with the prefix /usr into a staging root: the sample settings
# file then goes to /etc, where the client looks.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Programs without their debugging information, as distributions ship them.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

get_cmake_property(tarnex_components COMPONENTS)
set(tarnex_packaging ${PROJECT_SOURCE_DIR}/packaging)

# tarnex_package(COMPONENT <component> NAME <package> SECTION <section>
#                DESCRIPTION <summary line> <line>... [DEPENDS <component>...]
#                [PACKAGE_DEPENDS <Debian dependency>...] [ARCHITECTURE all])
# The Debian package of one install component, made only when something is
# installed into the component. DESCRIPTION is the synopsis and then the
# lines of the long description, unindented (cpack indents them); DEPENDS
# names components whose packages of the same version it needs.
function(tarnex_package)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "COMPONENT;NAME;SECTION;ARCHITECTURE" "DESCRIPTION;DEPENDS;PACKAGE_DEPENDS")
  if(NOT arg_COMPONENT IN_LIST tarnex_components)
    return()
  endif()
  string(TOUPPER ${arg_COMPONENT} component)
  set(package ${arg_NAME})
  set(CPACK_COMPONENTS_ALL ${CPACK_COMPONENTS_ALL} ${arg_COMPONENT} PARENT_SCOPE)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${component}_PACKAGE_SECTION ${arg_SECTION} PARENT_SCOPE)
  list(JOIN arg_DESCRIPTION "\n" description)
  set(CPACK_DEBIAN_${component}_DESCRIPTION "${description}" PARENT_SCOPE)
  set(CPACK_COMPONENT_${component}_DEPENDS ${arg_DEPENDS} PARENT_SCOPE)
  if(arg_ARCHITECTURE)
    set(CPACK_DEBIAN_${component}_PACKAGE_ARCHITECTURE ${arg_ARCHITECTURE} PARENT_SCOPE)
  endif()
  if(arg_PACKAGE_DEPENDS)
    list(JOIN arg_PACKAGE_DEPENDS ", " depends)
    set(CPACK_DEBIAN_${component}_PACKAGE_DEPENDS "${depends}" PARENT_SCOPE)
  endif()

  # Only in the packages: `cmake --install` leaves Debian's documents out.
  set(doc ${PROJECT_BINARY_DIR}/packaging/${package})
  tarnex_gzip(${tarnex_packaging}/changelog ${doc}/changelog.gz)
  install(FILES ${tarnex_packaging}/copyright ${doc}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${arg_COMPONENT} EXCLUDE_FROM_ALL)

  set(control "")
  get_property(conffiles GLOBAL PROPERTY TARNEX_CONFFILES_${arg_COMPONENT})
  if(conffiles)
    list(JOIN conffiles "\n" lines)
    file(WRITE ${doc}/control/conffiles "${lines}\n")
    list(APPEND control ${doc}/control/conffiles)
  endif()
  get_property(units GLOBAL PROPERTY TARNEX_SYSTEMD_UNITS_${arg_COMPONENT})
  if(units)
    list(JOIN units " " TARNEX_UNITS)
    foreach(script postinst prerm postrm)
      configure_file(${tarnex_packaging}/systemd/${script}.in ${doc}/control/${script} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      list(APPEND control ${doc}/control/${script})
    endforeach()
  endif()
  set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_EXTRA "${control}" PARENT_SCOPE)
  set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_STRICT_PERMISSION ON PARENT_SCOPE)
endfunction()

tarnex_package(COMPONENT client NAME tarnex-viravi SECTION admin DESCRIPTION
  "operator's client of the Tarnex storage cluster"
  "tarnex-viravi asks the cluster daemon of a Tarnex high-availability"
  "storage cluster for the state of its nodes and services, and starts,"
  "stops, moves, enables and disables them."
  "."
  "The package holds the program, its manual page, bash and zsh completion,"
  "a commented sample settings file and an example cluster.")

tarnex_package(COMPONENT sim NAME ruxd-sim SECTION misc DEPENDS client DESCRIPTION
  "simulated Tarnex cluster daemon for trying tarnex-viravi"
  "ruxd-sim keeps a cluster of nodes and services in memory and answers the"
  "requests of tarnex-viravi as the cluster daemon does, so that the client"
  "can be tried without a cluster. Service starts and stops take time and"
  "can be broken off, and nodes, services and the daemon itself can be made"
  "to fail, to rehearse the operator's work on failures."
  "."
  "It runs the example cluster of tarnex-viravi unless given another.")

tarnex_package(COMPONENT plugin NAME monitoring-plugins-tarnex SECTION net DESCRIPTION
  "monitoring plugin for the Tarnex storage cluster"
  "check_tarnex checks the nodes and services of a Tarnex high-availability"
  "storage cluster through its cluster daemon, and reports their state with"
  "performance data as monitoring systems that run plugins expect it.")

tarnex_package(COMPONENT exporter NAME prometheus-tarnex-exporter SECTION net DESCRIPTION
  "Prometheus exporter for the Tarnex storage cluster"
  "tarnex_exporter asks the cluster daemon of a Tarnex high-availability"
  "storage cluster for the state of its nodes and services and serves it as"
  "metrics for Prometheus to scrape, with a series that tells whether the"
  "daemon answered."
  "."
  "The package holds a systemd unit that runs the exporter as a service.")

tarnex_package(COMPONENT ansible NAME ansible-collection-tarnex SECTION admin ARCHITECTURE all
  PACKAGE_DEPENDS "ansible-core (>= 2.14)" DESCRIPTION
  "Ansible collection tarnex.cluster for Tarnex storage clusters"
  "The modules tarnex_info, tarnex_service and tarnex_node read and change"
  "the nodes and services of Tarnex high-availability storage clusters"
  "through tarnex-viravi on the managed node: idempotent, exact in check"
  "mode, and waiting on the cluster's own state.")

include(CPack)
