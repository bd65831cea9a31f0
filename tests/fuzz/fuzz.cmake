# Fuzz targets (fuzz/NAME_fuzz.cpp) replayed over their seed corpora
# (fuzz/corpus/NAME) as ordinary tests; tests/fuzz/run-fuzzers runs them
# under libFuzzer.
file(GLOB KAVRO_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_fuzz.cpp)
foreach(source ${KAVRO_FUZZ_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${name})
  add_executable(fuzz_replay_${name} ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp ${source})
  target_link_libraries(fuzz_replay_${name} PRIVATE kavro_core kavro_bridge_objects)
  add_test(NAME fuzz_replay.${name} COMMAND fuzz_replay_${name} ${CMAKE_CURRENT_LIST_DIR}/corpus/${name})
endforeach()
