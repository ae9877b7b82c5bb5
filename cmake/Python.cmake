# The vellumcast Python module (python/): pybind11 and Python's headers from Debian
# (pybind11-dev, python3-dev), /usr/bin/python3. Asked for with VELLUMCAST_PYTHON; where
# they are missing the module is left out with a warning and the rest builds as before.
# The engine's static libraries go into the module, a shared object, so with it they are
# built position-independent; -fno-semantic-interposition keeps GCC inlining and calling
# them directly as it does without, so the command line built beside it is no slower.
option(VELLUMCAST_PYTHON "Build the vellumcast Python module (pybind11-dev, python3-dev)" OFF)
set(VELLUMCAST_PYTHON_BUILT OFF)
if(VELLUMCAST_PYTHON)
  if(NOT DEFINED Python_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python 3.9 COMPONENTS Interpreter Development.Module)
  if(Python_FOUND)
    set(PYBIND11_FINDPYTHON ON)
    find_package(pybind11 2.10 CONFIG QUIET)
  endif()
  if(Python_FOUND AND pybind11_FOUND)
    set(VELLUMCAST_PYTHON_BUILT ON)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      add_compile_options(-fno-semantic-interposition)
    endif()
    message(STATUS "The Python module is built for ${Python_EXECUTABLE} (pybind11 ${pybind11_VERSION})")
  else()
    message(WARNING "VELLUMCAST_PYTHON is on, but pybind11 or Python's headers are missing "
                    "(Debian: pybind11-dev python3-dev): the Python module is left out")
  endif()
endif()
