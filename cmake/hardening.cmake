# Hardening of the optimised builds (Release, RelWithDebInfo, MinSizeRel),
# the flags Debian builds its packages with: checked string and memory
# functions (which need optimisation), stack protection, relocations made
# read-only and bound at start, and position-independent executables.
# Debug builds stay as they are. Under the sanitizers (TARNEX_SANITIZE, and
# the fuzz targets, which add their own) the checked functions are left
# out: they bypass the sanitizers' interceptors and hide what they report.
option(TARNEX_HARDENING "Harden the optimised builds as Debian packages are" ON)

if(TARNEX_HARDENING)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)

  set(tarnex_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
  if(NOT TARNEX_SANITIZE AND NOT TARNEX_BUILD_FUZZ)
    add_compile_options($<${tarnex_optimised}:-U_FORTIFY_SOURCE> $<${tarnex_optimised}:-D_FORTIFY_SOURCE=2>)
  endif()
  add_compile_options($<${tarnex_optimised}:-fstack-protector-strong>)
  add_link_options($<${tarnex_optimised}:-Wl,-z,relro,-z,now>)
endif()
