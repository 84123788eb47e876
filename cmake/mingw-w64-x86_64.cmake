# Cross-builds the library for 64-bit Windows with Debian's mingw-w64
# compiler (posix thread model, for std::thread and std::mutex):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Windows builds of the dependencies are found under the folders listed in
# CMAKE_FIND_ROOT_PATH (pass more with -DCMAKE_FIND_ROOT_PATH=...). Test
# programs run through scripts/wine-run.sh when Wine is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SELVANE_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER
  NAMES ${SELVANE_MINGW_TRIPLE}-gcc-posix ${SELVANE_MINGW_TRIPLE}-gcc)
find_program(CMAKE_CXX_COMPILER
  NAMES ${SELVANE_MINGW_TRIPLE}-g++-posix ${SELVANE_MINGW_TRIPLE}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${SELVANE_MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${SELVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's pkg-config files describe Linux builds.
set(PKG_CONFIG_EXECUTABLE "" CACHE FILEPATH "no pkg-config when cross-building")

# The compiler's own runtime (libstdc++, libgcc, winpthread) goes inside
# each binary, so the DLL and the programs need no DLLs beyond Windows' own.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

get_filename_component(_selvane_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
find_program(SELVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT SELVANE_WINE)
  find_program(SELVANE_WINE NAMES wine64 wine)
endif()
if(SELVANE_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_selvane_root}/scripts/wine-run.sh")
endif()
