# Writes DEF_OUT: the exports of the module-definition file DEF_IN (names and
# ordinals) with the __stdcall decoration that OBJECTS give each name
# (_OrvOpenComm@16 gives OrvOpenComm@16). For the 32-bit import library, whose
# callers refer to the decorated names.
#   cmake -DNM=... -DDEF_IN=... -DDEF_OUT=... -DOBJECTS=a.obj;b.obj -P stdcall_def.cmake
execute_process(COMMAND ${NM} -g --defined-only ${OBJECTS}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on the objects")
endif()
file(READ ${DEF_IN} def)
string(REGEX MATCH "LIBRARY[ \t]+[^\r\n]+" library "${def}")
string(REGEX MATCHALL "\n[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+@[0-9]+" entries "${def}")
set(out "${library}\nEXPORTS\n")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)" unused "${entry}")
  set(name ${CMAKE_MATCH_1})
  set(ordinal ${CMAKE_MATCH_2})
  if(NOT symbols MATCHES " _${name}@([0-9]+)[\r\n]")
    message(FATAL_ERROR "no __stdcall definition of ${name} in the objects")
  endif()
  string(APPEND out "    ${name}@${CMAKE_MATCH_1} @${ordinal}\n")
endforeach()
file(WRITE ${DEF_OUT} "${out}")
