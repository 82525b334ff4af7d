# Where `cmake --install` puts things, under the prefix (/usr/local by default,
# as on FreeBSD): the program in bin/, its manual page (compressed, by
# tarnex_install_manpage of cmake/install_helpers.cmake) in share/man/man8/
# beside those of other cluster administration tools, the completion files
# where bash-completion and zsh look for them, the example cluster and its
# settings in share/tarnex-viravi/examples/, and the commented sample settings
# file in etc/, beside where the program looks for the real one
# (<prefix>/etc/tarnex-viravi.config).
#
# Two components, which are also two Debian packages of cmake/package.cmake:
# "client" (tarnex-viravi) and "sim" (ruxd-sim and its page). `cmake --install`
# installs the simulator only when TARNEX_INSTALL_SIM is ON; the packages
# always hold it.
option(TARNEX_INSTALL_SIM "Install the simulated cluster daemon ruxd-sim as well" OFF)

if(TARGET tarnex-viravi)
  install(TARGETS tarnex-viravi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
endif()

tarnex_install_manpage(${PROJECT_SOURCE_DIR}/man/tarnex-viravi.8 8 client)

install(FILES ${PROJECT_SOURCE_DIR}/completion/tarnex-viravi.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME tarnex-viravi COMPONENT client)
install(FILES ${PROJECT_SOURCE_DIR}/completion/_tarnex-viravi
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions COMPONENT client)

# The installed ruxd-sim finds the example from its own bin/ (sim/CMakeLists.txt).
install(FILES ${PROJECT_SOURCE_DIR}/examples/cluster.json ${PROJECT_SOURCE_DIR}/examples/tarnex-viravi.config
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnex-viravi/examples COMPONENT client)

# Beside the settings file's own place: <prefix>/etc, or /etc for the prefix
# /usr, where the package's dpkg keeps it as a configuration file.
tarnex_install_beside_prefix(${PROJECT_SOURCE_DIR}/examples/tarnex-viravi.config.sample
  ${CMAKE_INSTALL_SYSCONFDIR} client)
tarnex_package_conffile(client /${CMAKE_INSTALL_SYSCONFDIR}/tarnex-viravi.config.sample)

if(TARGET ruxd-sim)
  if(TARNEX_INSTALL_SIM)
    set(tarnex_sim_install "")
  else()
    set(tarnex_sim_install EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS ruxd-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim ${tarnex_sim_install})
  tarnex_install_manpage(${PROJECT_SOURCE_DIR}/man/ruxd-sim.8 8 sim ${tarnex_sim_install})
endif()

# The Ansible collection tarnex.cluster, where Ansible finds collections
# without configuration; its tests and licence text (the package's copyright
# file has it) stay out. Component "ansible", package ansible-collection-tarnex.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/ansible/tarnex/cluster/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/tarnex/cluster
  COMPONENT ansible EXCLUDE_FROM_ALL
  PATTERN tests EXCLUDE PATTERN LICENSE EXCLUDE PATTERN __pycache__ EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/ansible-collection-tarnex
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ansible EXCLUDE_FROM_ALL)
