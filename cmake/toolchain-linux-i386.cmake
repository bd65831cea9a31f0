# 32-bit Linux (i386) on an amd64 Debian machine with g++-multilib (-m32).
# The i386 packages that cannot be installed beside the amd64 ones (NSS and
# NSPR headers, SoftHSM2) are unpacked into the build tree (KAVRO_DEB_ARCH,
# cmake/ForeignDebs.cmake); the runtime libraries come from the system's
# i386 multiarch folders.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(KAVRO_DEB_ARCH i386)
