# The JCA provider, used through the JCA alone: key store, signatures,
# decryption, TLS client authentication, jarsigner and keytool. The class
# adds certificates to KavroMain and deletes KavroAdmin: it works on a
# private copy of the token store.
kavro_java_test(ProviderTest ENVIRONMENT "SOFTHSM2_CONF=${KAVRO_TEST_WORK}/ProviderTest/softhsm2.conf")
