# Certificates, keys, signing, digest and cipher on the token.
kavro_java_test(CertificateListingMockTest)
kavro_java_test(KeyLookupMockTest)
