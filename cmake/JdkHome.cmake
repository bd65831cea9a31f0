# Finds the JDK when JAVA_HOME is not set, from the javac on PATH (Debian
# installs no default-java link), so that find_package(JNI) works on a
# fresh machine.
if(NOT DEFINED JAVA_HOME AND NOT DEFINED ENV{JAVA_HOME})
  find_program(KAVRO_JAVAC javac)
  if(KAVRO_JAVAC)
    file(REAL_PATH "${KAVRO_JAVAC}" _javac_real)
    get_filename_component(_jdk_bin "${_javac_real}" DIRECTORY)
    get_filename_component(_jdk_home "${_jdk_bin}" DIRECTORY)
    set(JAVA_HOME "${_jdk_home}" CACHE PATH "JDK used for the JNI headers and the Java build")
    message(STATUS "JAVA_HOME derived from javac: ${JAVA_HOME}")
  endif()
elseif(NOT DEFINED JAVA_HOME)
  set(JAVA_HOME "$ENV{JAVA_HOME}" CACHE PATH "JDK used for the JNI headers and the Java build")
endif()
if(JAVA_HOME)
  # FindJava and FindJNI look at the environment variable.
  set(ENV{JAVA_HOME} "${JAVA_HOME}")
endif()
