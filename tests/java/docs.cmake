# The documentation's PIN transport snippet and the package overview's JCA
# example, compiled from docs/ and java/ and run against SoftHSM2.
kavro_java_test(DocSnippetTest ENVIRONMENT "KAVRO_DOCS=${CMAKE_SOURCE_DIR}/docs")
