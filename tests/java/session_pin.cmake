# Sessions, login, the token serial and PIN administration.
kavro_java_test(SessionTest)
kavro_java_test(SerialTest)
kavro_java_test(PinAdminTest)
kavro_java_test(SoftHsmSessionTest)
kavro_java_test(SoftHsmPinTest)
# Initialises SoftHSM2's free token, which changes slot ids for every later
# process: it works on a private copy of the token store.
kavro_java_test(SoftHsmInitTokenTest
  ENVIRONMENT "SOFTHSM2_CONF=${KAVRO_TEST_WORK}/SoftHsmInitTokenTest/softhsm2.conf")
