# The personal certificate store: NSS databases made for the run, Java tests
# with HOME pointing at them, without display and without a terminal (a
# session of their own), and the dialog tests that start their own Xvfb and tmux.
find_program(KAVRO_SETSID setsid REQUIRED)

set(KAVRO_STORE ${KAVRO_TEST_WORK}/store)
add_test(NAME nss_store COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/make_store.sh ${KAVRO_STORE})
set_tests_properties(nss_store PROPERTIES FIXTURES_SETUP nss_store)

add_library(kavronssprobe SHARED modules/nssprobe/nss_probe_jni.cpp)
target_include_directories(kavronssprobe PRIVATE ${JNI_INCLUDE_DIRS})
target_link_libraries(kavronssprobe PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(kavro_tests_jar kavronssprobe)

# kavro_store_test(CLASS HOME)
function(kavro_store_test class home)
  add_test(NAME java.${class}
    COMMAND ${KAVRO_SETSID} -w ${KAVRO_TEST_JAVA} -Xcheck:jni
      -Dbrelmont.kavro.library=$<TARGET_FILE:kavro>
      -Dkavro.store=${KAVRO_STORE}/store.properties
      -Dkavro.nssprobe=$<TARGET_FILE:kavronssprobe>
      -Dkavro.classpath=${KAVRO_JAR}:${KAVRO_TESTS_JAR}
      -Dkavro.work=${KAVRO_TEST_WORK}/${class}
      -jar ${KAVRO_JUNIT_CONSOLE} -cp ${KAVRO_JAR}:${KAVRO_TESTS_JAR}
      --select-class kavrotest.${class} --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests)
  set_tests_properties(java.${class} PROPERTIES
    FIXTURES_REQUIRED nss_store
    ENVIRONMENT "HOME=${home}"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:"
    FAIL_REGULAR_EXPRESSION "WARNING in native method|FATAL ERROR in native method|WARNING: JNI local refs|handler modified")
endfunction()

kavro_store_test(StoreSignTest ${KAVRO_STORE}/home)
kavro_store_test(StoreVerifyTest ${KAVRO_STORE}/home)
kavro_store_test(StoreLifetimeTest ${KAVRO_STORE}/home-lifetime)
kavro_store_test(StoreNoDatabaseTest ${KAVRO_STORE}/home-empty)
kavro_store_test(StoreDialogTest ${KAVRO_STORE}/home)
kavro_store_test(StoreTerminalTest ${KAVRO_STORE}/home)
