# Install helpers that keep the Debian packages of cmake/package.cmake in
# the shape their checker wants, for every CMakeLists.txt that installs into
# a package's component.
include(GNUInstallDirs)
find_program(TARNEX_GZIP gzip REQUIRED)

# tarnex_gzip(<input> <output>): <output> is <input> compressed at build
# time as Debian wants it, at the best level and reproducibly (-n: neither
# the name nor the time of the input goes into the header).
function(tarnex_gzip input output)
  file(RELATIVE_PATH name ${PROJECT_BINARY_DIR} ${output})
  string(MAKE_C_IDENTIFIER "gzip_${name}" target)
  get_filename_component(directory ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${directory})
  add_custom_command(OUTPUT ${output}
    COMMAND ${TARNEX_GZIP} -9n -c ${input} > ${output}
    DEPENDS ${input} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# tarnex_install_manpage(<file> <section> <component> [install() options]):
# the page, compressed, in <mandir>/man<section>. Further arguments (such
# as EXCLUDE_FROM_ALL) go to install().
function(tarnex_install_manpage file section component)
  get_filename_component(name ${file} NAME)
  set(compressed ${PROJECT_BINARY_DIR}/man/${name}.gz)
  tarnex_gzip(${file} ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    COMPONENT ${component} ${ARGN})
endfunction()

# tarnex_package_conffile(<component> <absolute path>): the file is a
# configuration file of the component's package, which dpkg keeps when the
# administrator has changed it.
function(tarnex_package_conffile component path)
  set_property(GLOBAL APPEND PROPERTY TARNEX_CONFFILES_${component} ${path})
endfunction()

# tarnex_install_beside_prefix(<file> <subdirectory> <component> [EXCLUDE_FROM_ALL]): <file>
# into <prefix>/<subdirectory>, or /<subdirectory> for the prefix /usr
# (where /usr/etc or /usr/lib/systemd would not be read on every system).
# Decided when installing, since `cmake --install --prefix` and the packages
# choose the prefix then.
function(tarnex_install_beside_prefix file subdirectory component)
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(tarnex_destination \"/${subdirectory}\")
    else()
      set(tarnex_destination \"\${CMAKE_INSTALL_PREFIX}/${subdirectory}\")
    endif()
    file(INSTALL \"${file}\" DESTINATION \"\${tarnex_destination}\")
  " COMPONENT ${component} ${ARGN})
endfunction()

# tarnex_install_systemd_unit(<file> <component> [EXCLUDE_FROM_ALL]): a system unit, in
# /lib/systemd/system for the prefix /usr; its package enables, starts,
# restarts and stops it as debhelper-made packages do.
function(tarnex_install_systemd_unit file component)
  tarnex_install_beside_prefix(${file} lib/systemd/system ${component} ${ARGN})
  get_filename_component(name ${file} NAME)
  set_property(GLOBAL APPEND PROPERTY TARNEX_SYSTEMD_UNITS_${component} ${name})
endfunction()
