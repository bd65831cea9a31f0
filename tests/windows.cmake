# Checks of the Windows builds (included from tests/CMakeLists.txt): the
# export tables of kavro.dll and of the mock module, read with objdump.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KAVRO_ARCH x86)
else()
  set(KAVRO_ARCH x64)
endif()
set(KAVRO_CHECK_EXPORTS ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_dll_exports.cmake)

# Every native method of Brelmont.Kavro and Brelmont.KavroCertificates under
# the names the JVM looks up, and nothing else.
add_test(NAME exports.kavro
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:kavro> -DARCH=${KAVRO_ARCH}
    "-DJAVA_CLASS=${CMAKE_SOURCE_DIR}/java/Brelmont/Kavro.java|${CMAKE_SOURCE_DIR}/java/Brelmont/KavroCertificates.java"
    -P ${KAVRO_CHECK_EXPORTS})
# The mock as token modules are: undecorated cdecl entry points.
add_test(NAME exports.mock
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:kavro_mock>
    "-DNAMES=C_GetFunctionList|E_GetAuxFunctionList|MockControl" -P ${KAVRO_CHECK_EXPORTS})
