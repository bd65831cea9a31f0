# kavro.dll for 32- and 64-bit Windows (included by the top-level project).
# The compiler runtime (libgcc, libstdc++, winpthread) is linked in, so the
# DLL needs nothing beside the system's own DLLs.
#
# 32-bit: a 32-bit JVM looks up `_Java_Brelmont_Kavro_X@N` first, then
# `Java_Brelmont_Kavro_X`; the compiler's own export `X@N` matches neither.
# So the methods are compiled without dllexport (JNIEXPORT empty) and
# exported through a .def listing both names. The .def is generated from the
# compiled objects: every __stdcall method the sources define is exported
# with its true argument size, and nothing is listed by hand.
# 64-bit: dllexport gives the plain names, as the JVM looks them up.
set_target_properties(kavro PROPERTIES PREFIX "" OUTPUT_NAME kavro)
target_link_options(kavro PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(kavro_core PRIVATE JNIEXPORT=)
  set(KAVRO_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/kavro.def)
  add_custom_command(OUTPUT ${KAVRO_DEF_FILE}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOUTPUT=${KAVRO_DEF_FILE}
      "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:kavro_core>,|>"
      -P ${CMAKE_CURRENT_LIST_DIR}/MakeJniDef.cmake
    DEPENDS $<TARGET_OBJECTS:kavro_core> ${CMAKE_CURRENT_LIST_DIR}/MakeJniDef.cmake
    COMMENT "Listing the JNI methods of kavro.dll in kavro.def"
    VERBATIM)
  target_sources(kavro PRIVATE ${KAVRO_DEF_FILE})
endif()
