# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers
# (posix thread model, g++-mingw-w64-i686-posix).
set(KAVRO_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
