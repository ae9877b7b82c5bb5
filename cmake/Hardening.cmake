# The hardening Debian asks of the programs it ships: fortified C library calls
# (_FORTIFY_SOURCE, which needs an optimised build), a stack protector, and relocations
# resolved at start-up and then made read-only (full RELRO with immediate binding).
# Sanitizer and fuzz builds go without: their runtimes take the place of the checked calls.
# Windows executables are not ELF and take none of it.
option(VELLUMCAST_HARDEN "Build with _FORTIFY_SOURCE, a stack protector and full RELRO" ON)
if(VELLUMCAST_HARDEN AND NOT WIN32 AND NOT VELLUMCAST_SANITIZE AND NOT VELLUMCAST_TSAN AND NOT VELLUMCAST_FUZZ)
  # A packager's own definition (dpkg-buildflags puts one in CPPFLAGS) is kept.
  if(NOT "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  endif()
  add_compile_options(-fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()

# Removes the .comment and .note sections (compiler versions, nothing the program needs)
# from an installed ELF file when the installation strips, as CPack's does; path is
# relative to the installation prefix.
function(vellumcast_install_strip_comment path)
  if(WIN32 OR NOT CMAKE_STRIP)
    return()
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${path}\")
      if(EXISTS \"\${file}\")
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"\${file}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()
    endif()")
endfunction()
