# Warnings for every target of the project; -Werror in CI keeps them at zero.
function(vellumcast_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
  if(VELLUMCAST_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
