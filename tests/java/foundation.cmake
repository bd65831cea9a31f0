# Module table and slot discovery.
kavro_java_test(ModuleStartTest)
kavro_java_test(DiscoveryTest)
kavro_java_test(SoftHsmSlotsTest)

# A JVM of its own: kinds 0 to 3 missing from the path, kind 4 a mock
# without E_GetAuxFunctionList, every library lookup traced by the loader;
# its current folder, where it puts a copy of the mock, is its own.
set(_loading_dir ${KAVRO_TEST_WORK}/modules-loading)
file(MAKE_DIRECTORY ${_loading_dir} ${KAVRO_TEST_WORK}/ModuleLoadingTest/current)
kavro_java_test(ModuleLoadingTest
  MODULE_PATH ${KAVRO_NOAUX_MODULE_DIR} ${_loading_dir}
  ENVIRONMENT "LD_DEBUG=files;LD_DEBUG_OUTPUT=${KAVRO_TEST_WORK}/ModuleLoadingTest/ld;KAVRO_MOCK_JOURNAL_FILE=${KAVRO_TEST_WORK}/ModuleLoadingTest/noaux.journal;KAVRO_STRAY_MODULE=$<TARGET_FILE:kavro_mock>")
set_tests_properties(java.ModuleLoadingTest PROPERTIES WORKING_DIRECTORY ${KAVRO_TEST_WORK}/ModuleLoadingTest/current)

# The module bridge as kinds 0 to 4, each file forwarding where the test's
# own bridge.conf says: NSS's softoken (which needs init-args), the mock,
# OpenSC's module, a missing file, the mock without E_GetAuxFunctionList.
# (real_modules.cmake puts real modules behind the same files.)
set(KAVRO_BRIDGE_FILES_DIR ${KAVRO_TEST_WORK}/modules-bridge)
set(_bridge_files)
foreach(name zelcsp11.dll orbeka-ca_csp11.dll dunmere-ca.dll talvis-ca.dll MorvenCA.dll)
  list(APPEND _bridge_files ${KAVRO_BRIDGE_FILES_DIR}/${name})
  add_custom_command(OUTPUT ${KAVRO_BRIDGE_FILES_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kavro_bridge> ${KAVRO_BRIDGE_FILES_DIR}/${name}
    DEPENDS kavro_bridge VERBATIM)
endforeach()
# The SIGPIPE guard beside them, as beside an installed bridge.
list(APPEND _bridge_files ${KAVRO_BRIDGE_FILES_DIR}/libkavro-sigpipe.so)
add_custom_command(OUTPUT ${KAVRO_BRIDGE_FILES_DIR}/libkavro-sigpipe.so
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kavro_sigpipe> ${KAVRO_BRIDGE_FILES_DIR}/libkavro-sigpipe.so
  DEPENDS kavro_sigpipe VERBATIM)
add_custom_target(kavro_bridge_test_files DEPENDS ${_bridge_files})
add_dependencies(kavro_tests_jar kavro_bridge_test_files)
find_file(KAVRO_OPENSC_MODULE opensc-pkcs11.so PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} NO_DEFAULT_PATH REQUIRED)
find_file(KAVRO_SOFTOKEN_MODULE libsoftokn3.so PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} NO_DEFAULT_PATH REQUIRED)
kavro_java_test(BridgeTest MODULE_PATH ${KAVRO_BRIDGE_FILES_DIR}
  ENVIRONMENT "XDG_CONFIG_HOME=${KAVRO_TEST_WORK}/BridgeTest/config;KAVRO_TEST_MOCK_MODULE=$<TARGET_FILE:kavro_mock>;KAVRO_TEST_NOAUX_MODULE=$<TARGET_FILE:kavro_mock_noaux>;KAVRO_TEST_OPENSC_MODULE=${KAVRO_OPENSC_MODULE};KAVRO_TEST_SOFTOKEN_MODULE=${KAVRO_SOFTOKEN_MODULE};KAVRO_TEST_BRIDGE=$<TARGET_FILE:kavro_bridge>")
