# Finds oneTBB for the worker pool and defines the imported target TBB::tbb.
#
# The first place looked at is the Python package `tbb-devel`, in the environment of the
# interpreter the build runs with: pip installs it (and the run-time package `tbb`, which holds
# libtbb.so.12) into the build environment from [build-system] requires, and `make test` installs
# it into .venv. Its files lie outside site-packages (<prefix>/lib/cmake/tbb, <prefix>/include,
# <prefix>/lib), so the package's own file list is asked where they are. The headers then match
# the libtbb.so.12 that the installed package depends on at run time.
#
# Failing that, an installed oneTBB is looked for the usual CMake way (TBB_DIR, CMAKE_PREFIX_PATH,
# the system's directories), and when none is found the error says what to install.
#
# Sets SORVEL_TBB_FROM_PYTHON to ON when the Python package was used.

set(SORVEL_TBB_FROM_PYTHON OFF)
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c [=[
import importlib.metadata, os
try:
    dist = importlib.metadata.distribution("tbb-devel")
except importlib.metadata.PackageNotFoundError:
    raise SystemExit(0)
for file in dist.files or ():
    if file.name == "TBBConfig.cmake":
        print(os.path.dirname(os.path.realpath(dist.locate_file(file))), end="")
        break
]=]
  OUTPUT_VARIABLE _sorvel_tbb_python_dir
  RESULT_VARIABLE _sorvel_tbb_python_result
  ERROR_QUIET)
if(NOT _sorvel_tbb_python_result EQUAL 0 OR NOT EXISTS "${_sorvel_tbb_python_dir}/TBBConfig.cmake")
  set(_sorvel_tbb_python_dir "")
endif()

# A TBB_DIR given on the command line (or kept in the cache by an earlier run) wins.
if(NOT TBB_DIR AND _sorvel_tbb_python_dir)
  find_package(TBB CONFIG QUIET COMPONENTS tbb PATHS "${_sorvel_tbb_python_dir}" NO_DEFAULT_PATH)
  if(NOT TBB_FOUND)
    message(WARNING "The Python package tbb-devel is installed (${_sorvel_tbb_python_dir}) but "
                    "libtbb.so.12 is not next to it: is its run-time half, the package `tbb`, "
                    "installed in the same environment?")
  endif()
endif()

if(NOT TBB_FOUND)
  find_package(TBB CONFIG QUIET COMPONENTS tbb)
endif()

if(NOT TBB_FOUND)
  message(FATAL_ERROR
    "sorvel needs oneTBB (the C++ library, version 2021 or later) and found none.\n"
    "Install one of:\n"
    "  - the Python package tbb-devel, into the environment that builds sorvel:\n"
    "      ${Python_EXECUTABLE} -m pip install tbb-devel\n"
    "    (`pip install .` with build isolation does this by itself from the package index;\n"
    "    with --no-build-isolation it must be installed first)\n"
    "  - your system's oneTBB development package: libtbb-dev (Debian, Ubuntu),\n"
    "    tbb-devel (Fedora, RHEL), onetbb (Homebrew, conda-forge)\n"
    "  - or a oneTBB installed elsewhere: pass its CMake directory with -DTBB_DIR=<dir>\n"
    "    (for pip: -C cmake.define.TBB_DIR=<dir>), the directory holding TBBConfig.cmake.")
endif()
if(_sorvel_tbb_python_dir AND TBB_DIR STREQUAL _sorvel_tbb_python_dir)
  set(SORVEL_TBB_FROM_PYTHON ON)
endif()
message(STATUS "oneTBB ${TBB_VERSION}: ${TBB_DIR}")
