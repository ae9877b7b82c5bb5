# Warnings for every target of the project; -Werror in CI keeps them at zero.
function(vellumcast_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
  if(VELLUMCAST_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 reports overlapping copies inside libstdc++'s own string code after inlining
    # (GCC bugs 105329 and 105651), and, in the sanitizers' -O1 build, members of a moved
    # std::optional as maybe uninitialized (GCC bug 80635); the warnings stay, but they
    # cannot fail the build.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-error=restrict)
      if(VELLUMCAST_SANITIZE)
        target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
      endif()
    endif()
  endif()
endfunction()
