# Real PKCS #11 modules behind the module bridge, one run of RealModuleTest's
# case table each: set up by tests/scripts/real_module.sh as a fixture whose
# cleanup stops any daemon it started. A module that cannot be had here (not
# installed for the JVM's architecture, its daemon does not start) skips its
# set-up and its run, which prints one "not run" line.
set(_script ${CMAKE_CURRENT_SOURCE_DIR}/scripts/real_module.sh)
foreach(module softoken trust opencryptoki tpm)
  set(_work ${KAVRO_TEST_WORK}/real/${module})
  add_test(NAME real.${module}.setup COMMAND ${_script} setup ${module} ${_work} ${CMAKE_LIBRARY_ARCHITECTURE})
  add_test(NAME real.${module}.stop COMMAND ${_script} stop ${module} ${_work})
  set_tests_properties(real.${module}.setup PROPERTIES FIXTURES_SETUP real.${module} SKIP_RETURN_CODE 77)
  set_tests_properties(real.${module}.stop PROPERTIES FIXTURES_CLEANUP real.${module})
  kavro_java_test(RealModuleTest NAME RealModuleTest.${module}
    MODULE_PATH ${KAVRO_BRIDGE_FILES_DIR}
    LAUNCHER ${_script} run ${_work}
    JVM_ARGS -Dkavro.module=${module} -Dkavro.module.properties=${_work}/module.properties
    ENVIRONMENT "XDG_CONFIG_HOME=${KAVRO_TEST_WORK}/RealModuleTest.${module}/config")
  # The JVM's signal check as well: a module that replaces one of its
  # handlers (NSPR ignores SIGPIPE) changes the process for every caller.
  get_test_property(java.RealModuleTest.${module} FAIL_REGULAR_EXPRESSION _complaints)
  set_tests_properties(java.RealModuleTest.${module} PROPERTIES
    FIXTURES_REQUIRED real.${module} RESOURCE_LOCK real.${module}
    SKIP_REGULAR_EXPRESSION "^${module}: not run "
    FAIL_REGULAR_EXPRESSION "${_complaints}|handler modified")
endforeach()
