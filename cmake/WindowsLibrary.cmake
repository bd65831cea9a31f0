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
# The personal store: CryptoAPI (CRYPT32, ADVAPI32) and the selection dialog (CRYPTUI).
# Debian's i686 MinGW-w64 has no import library for cryptui.dll: one is made
# with dlltool from the single entry used (cmake/cryptui.def).
find_library(KAVRO_CRYPTUI_LIBRARY cryptui)
if(NOT KAVRO_CRYPTUI_LIBRARY)
  find_program(KAVRO_DLLTOOL ${KAVRO_MINGW_TRIPLET}-dlltool REQUIRED)
  set(KAVRO_CRYPTUI_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/libcryptui.a)
  add_custom_command(OUTPUT ${KAVRO_CRYPTUI_LIBRARY}
    COMMAND ${KAVRO_DLLTOOL} --kill-at --input-def ${CMAKE_CURRENT_LIST_DIR}/cryptui.def
      --output-lib ${KAVRO_CRYPTUI_LIBRARY}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cryptui.def
    COMMENT "Making the import library of cryptui.dll"
    VERBATIM)
  add_custom_target(kavro_cryptui_import DEPENDS ${KAVRO_CRYPTUI_LIBRARY})
  add_dependencies(kavro kavro_cryptui_import)
endif()
target_link_libraries(kavro PRIVATE crypt32 advapi32 ${KAVRO_CRYPTUI_LIBRARY})

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
