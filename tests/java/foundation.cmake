# Module table and slot discovery.
kavro_java_test(ModuleStartTest)
kavro_java_test(DiscoveryTest)
kavro_java_test(SoftHsmSlotsTest)

# A JVM of its own: kind 3's library missing from the path, kind 4 a mock
# without E_GetAuxFunctionList, every library lookup traced by the loader.
set(_loading_dir ${KAVRO_TEST_WORK}/modules-loading)
file(MAKE_DIRECTORY ${_loading_dir} ${KAVRO_TEST_WORK}/ModuleLoadingTest)
kavro_java_test(ModuleLoadingTest
  MODULE_PATH ${KAVRO_NOAUX_MODULE_DIR} ${_loading_dir}
  ENVIRONMENT "LD_DEBUG=files;LD_DEBUG_OUTPUT=${KAVRO_TEST_WORK}/ModuleLoadingTest/ld;KAVRO_MOCK_JOURNAL_FILE=${KAVRO_TEST_WORK}/ModuleLoadingTest/noaux.journal")
