# Certificates, keys, signing, digest and cipher on the token.
kavro_java_test(CertificateListingMockTest)
kavro_java_test(KeyLookupMockTest)
kavro_java_test(SigningMockTest)
kavro_java_test(DigestCipherMockTest)
kavro_java_test(SoftHsmTokenCryptoTest)

# Java threads at once: on the mock's one slot and on two SoftHSM2 slots.
kavro_java_test(ConcurrencyTest)
# The same with one session per slot, as before sessions were pooled.
kavro_java_test(ConcurrencyTest NAME ConcurrencyTest.OneSessionPerSlot ENVIRONMENT "KAVRO_SESSIONS_PER_SLOT=1")
