# A build for another Debian architecture than the machine's (KAVRO_DEB_ARCH,
# set by the toolchain file): its NSS and NSPR headers and its SoftHSM2 are
# unpacked into the build tree, since their packages would replace the native
# ones. pkg-config then reads the unpacked .pc files; the libraries they name
# are found in the architecture's multiarch folder, where the runtime
# packages (libnss3:ARCH) put them.
set(KAVRO_DEB_ROOT ${CMAKE_BINARY_DIR}/debs-${KAVRO_DEB_ARCH})
execute_process(
  COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/unpack_debs.sh ${KAVRO_DEB_ROOT} ${KAVRO_DEB_ARCH}
    libnss3-dev libnspr4-dev libsofthsm2
  RESULT_VARIABLE _unpacked)
if(NOT _unpacked EQUAL 0)
  message(FATAL_ERROR "Could not unpack the ${KAVRO_DEB_ARCH} packages into ${KAVRO_DEB_ROOT}")
endif()
# libnspr4-dev's static archives would be found before the shared NSPR that
# libnss3 itself loads; one NSPR in the process, so they go.
file(GLOB _archives ${KAVRO_DEB_ROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/*.a)
if(_archives)
  file(REMOVE ${_archives})
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${KAVRO_DEB_ROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${KAVRO_DEB_ROOT})
set(KAVRO_TEST_SOFTHSM ${KAVRO_DEB_ROOT}/usr/lib/softhsm/libsofthsm2.so)
