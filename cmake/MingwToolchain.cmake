# Shared part of the MinGW-w64 toolchain files: the compilers and binutils
# of KAVRO_MINGW_TRIPLET, and a find root that keeps host libraries out.
# Host programs (javac, Wine) are still found on the host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KAVRO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVRO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVRO_MINGW_TRIPLET}-windres)
find_program(CMAKE_NM ${KAVRO_MINGW_TRIPLET}-nm REQUIRED)
find_program(CMAKE_OBJDUMP ${KAVRO_MINGW_TRIPLET}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KAVRO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
