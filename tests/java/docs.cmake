# The documentation's PIN transport snippet, compiled from docs/ and run
# against SoftHSM2; the same recipe and the tables of module kinds and
# selectors, read from docs/ and the Javadoc of Kavro.java; the package
# overview's JCA example, compiled from java/ and run.
kavro_java_test(DocSnippetTest ENVIRONMENT "KAVRO_DOCS=${CMAKE_SOURCE_DIR}/docs;KAVRO_JAVA=${CMAKE_SOURCE_DIR}/java")
