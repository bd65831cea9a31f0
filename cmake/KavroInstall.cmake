# cmake --install and cpack. Linux follows Debian's layout: the JNI
# libraries in lib/<multiarch>/jni, which OpenJDK on Debian searches, so
# System.loadLibrary("kavro") finds them; the module bridge and its SIGPIPE
# guard in lib/<multiarch>/kavro, the module folder that the installed
# libkavro.so searches after LD_LIBRARY_PATH (its RUNPATH); the jar in
# share/java. On Windows the DLLs go to the top of the install folder (the
# Windows zip is made from both architectures' trees, see packaging/windows).
if(WIN32)
  install(TARGETS kavro kavro_bridge RUNTIME DESTINATION . LIBRARY DESTINATION .)
  return()
endif()

include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(KAVRO_INSTALL_ARCHDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(KAVRO_INSTALL_ARCHDIR ${CMAKE_INSTALL_LIBDIR})
endif()
set(KAVRO_INSTALL_JNIDIR ${KAVRO_INSTALL_ARCHDIR}/jni)
set(KAVRO_INSTALL_MODULEDIR ${KAVRO_INSTALL_ARCHDIR}/kavro)

# RUNPATH, not RPATH: LD_LIBRARY_PATH keeps coming first. Relative to the
# library, so the tree works wherever it is unpacked. The build tree's
# library is linked with it too (there it names build/kavro, which nothing
# makes): a RUNPATH that CMake rewrites at install time is padded with
# empty entries, which the loader reads as the current folder.
set_target_properties(kavro PROPERTIES INSTALL_RPATH "$ORIGIN/../kavro" BUILD_WITH_INSTALL_RPATH ON)
target_link_options(kavro PRIVATE -Wl,--enable-new-dtags)

install(TARGETS kavro kavro_nss LIBRARY DESTINATION ${KAVRO_INSTALL_JNIDIR})
install(TARGETS kavro_bridge kavro_sigpipe LIBRARY DESTINATION ${KAVRO_INSTALL_MODULEDIR})
install_jar(kavro_jar DESTINATION ${CMAKE_INSTALL_DATADIR}/java)

# Debian's Java layout: a POM for kavro.jar in the system's Maven repository,
# under the project's version and under "debian", each beside a relative link
# to the jar, as Debian's Java packages lay them out; offline Maven and Gradle
# builds resolve brelmont:kavro from there.
set(KAVRO_MAVEN_GROUP brelmont)
set(KAVRO_MAVEN_ARTIFACT kavro)
set(KAVRO_MAVEN_DIR ${CMAKE_INSTALL_DATADIR}/maven-repo/${KAVRO_MAVEN_GROUP}/${KAVRO_MAVEN_ARTIFACT})
foreach(KAVRO_POM_VERSION ${PROJECT_VERSION} debian)
  set(staged ${CMAKE_BINARY_DIR}/maven-repo/${KAVRO_POM_VERSION})
  set(name ${KAVRO_MAVEN_ARTIFACT}-${KAVRO_POM_VERSION})
  configure_file(packaging/maven/kavro.pom.in ${staged}/${name}.pom @ONLY)
  file(RELATIVE_PATH jar /${KAVRO_MAVEN_DIR}/${KAVRO_POM_VERSION} /${CMAKE_INSTALL_DATADIR}/java/kavro.jar)
  file(CREATE_LINK ${jar} ${staged}/${name}.jar SYMBOLIC)
  install(FILES ${staged}/${name}.pom ${staged}/${name}.jar DESTINATION ${KAVRO_MAVEN_DIR}/${KAVRO_POM_VERSION})
endforeach()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY ${KAVRO_JAVADOC_DIR}/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/api)

set(CPACK_PACKAGE_NAME kavro)
set(CPACK_PACKAGE_VENDOR "kavro")
set(CPACK_PACKAGE_CONTACT "kavro developers <kavro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PKCS #11 tokens and the personal certificate store for Java (Brelmont.Kavro)")
set(CPACK_PACKAGE_DESCRIPTION "The native library behind the Java class Brelmont.Kavro: PKCS #11 token
modules (slots, sessions, login, PIN administration, certificates, keys,
signing, digests, RSA cipher) and the user's NSS certificate database, from
Java. Includes kavro.jar and the module bridge, which lets any PKCS #11
module serve as one of kavro's module kinds.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION java)
# What the libraries link: glibc 2.34 for posix_spawn_file_actions_addclosefrom_np
# (as dpkg-shlibdeps reads them off the libraries); a JVM may come from
# elsewhere, so the JRE is only recommended; zenity only serves the dialog.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2), libnss3 (>= 2:3.13.4-2~)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "default-jre-headless | java17-runtime-headless")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity, softhsm2, opensc-pkcs11")
include(CPack)
