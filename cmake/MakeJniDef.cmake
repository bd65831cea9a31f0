# Writes the .def of the 32-bit kavro.dll from its compiled objects (run as
# cmake -DNM=… -DOBJECTS=a.obj|b.obj -DOUTPUT=kavro.def -P MakeJniDef.cmake).
# Each defined __stdcall symbol _Java_Brelmont_C_X@N of a class C whose name
# begins with Kavro (N = bytes of arguments) is exported as
# `Java_Brelmont_C_X` and `_Java_Brelmont_C_X@N`.
# In a .def the internal name is written without its leading underscore.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" objects "${OBJECTS}")
execute_process(COMMAND ${NM} --defined-only ${objects}
  OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed: ${errors}")
endif()

cmake_minimum_required(VERSION 3.25)

string(REGEX MATCHALL "[0-9a-fA-F]+ T _Java_Brelmont_Kavro[A-Za-z]*_[A-Za-z0-9_]+@[0-9]+" found "${symbols}")
if(NOT found)
  message(FATAL_ERROR "no Java_Brelmont_Kavro_* method in the objects of kavro.dll")
endif()
set(lines)
foreach(entry IN LISTS found)
  string(REGEX REPLACE ".* T _(Java_Brelmont_Kavro[A-Za-z]*_[A-Za-z0-9_]+)@([0-9]+)$" "\\1" name "${entry}")
  string(REGEX REPLACE ".*@([0-9]+)$" "\\1" size "${entry}")
  list(APPEND lines "    ${name} = ${name}@${size}\n    _${name}@${size} = ${name}@${size}\n")
endforeach()
list(REMOVE_DUPLICATES lines)
list(SORT lines)
list(LENGTH lines count)
string(JOIN "" exports ${lines})
file(WRITE "${OUTPUT}" "; Generated from the objects of kavro.dll: ${count} JNI methods, two names each.\nLIBRARY kavro.dll\nEXPORTS\n${exports}")
