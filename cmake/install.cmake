# Where `cmake --install` puts things, under the prefix (/usr/local by default,
# as on FreeBSD): the program in bin/, its manual page in share/man/man1/,
# the completion files where bash-completion and zsh look for them, and the
# commented sample settings file in etc/, beside where the program looks for
# the real one (<prefix>/etc/tarnex-viravi.config).
include(GNUInstallDirs)

option(TARNEX_INSTALL_SIM "Install the simulated cluster daemon ruxd-sim as well" OFF)

if(TARGET tarnex-viravi)
  install(TARGETS tarnex-viravi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/man/tarnex-viravi.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/completion/tarnex-viravi.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME tarnex-viravi)
install(FILES ${PROJECT_SOURCE_DIR}/completion/_tarnex-viravi
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)

# Beside the settings file's own place: <prefix>/etc, or /etc for the prefix
# /usr (where <prefix>/etc would be /usr/etc, which nobody reads). Relative
# otherwise, so that `cmake --install --prefix` moves it too.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(tarnex_sample_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR})
else()
  set(tarnex_sample_dir ${CMAKE_INSTALL_SYSCONFDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/tarnex-viravi.config.sample
  DESTINATION ${tarnex_sample_dir})

if(TARNEX_INSTALL_SIM AND TARGET ruxd-sim)
  install(TARGETS ruxd-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
