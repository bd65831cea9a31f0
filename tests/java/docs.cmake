# The documentation's PIN transport snippet, compiled from docs/ and run
# against SoftHSM2.
kavro_java_test(DocSnippetTest ENVIRONMENT "KAVRO_DOCS=${CMAKE_SOURCE_DIR}/docs")
