# Reads the export table of the Windows DLL and fails when it names
# anything but members of CSelvaneObject (its functions, vtable and type
# information) and of CSelvaneTable, or lacks one of their operations.
# Expects: LIBRARY, OBJDUMP.
execute_process(COMMAND ${OBJDUMP} -p "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(in_table OFF)
set(names "")
set(others "")
foreach(line ${lines})
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_table ON)
  elseif(in_table AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    set(name "${CMAKE_MATCH_1}")
    list(APPEND names "${name}")
    if(NOT name MATCHES "14CSelvaneObject|13CSelvaneTable")
      list(APPEND others "${name}")
    endif()
  elseif(in_table)
    set(in_table OFF)
  endif()
endforeach()
string(REPLACE ";" "\n" names_text "${names}")
message(STATUS "exported:\n${names_text}")
if(others)
  string(REPLACE ";" "\n" others_text "${others}")
  message(FATAL_ERROR "exported beyond CSelvaneObject and CSelvaneTable:\n${others_text}")
endif()
foreach(member "14CSelvaneObject10InitConfig" "14CSelvaneObject8QueryDBC"
               "14CSelvaneObject8QueryWDB" "14CSelvaneObjectaSE"
               "14CSelvaneObjectC1ERKS_" "14CSelvaneObjectC1Ev"
               "14CSelvaneObjectD1Ev" "13CSelvaneTable7OpenWDB"
               "13CSelvaneTable7OpenDBC" "13CSelvaneTable5Query"
               "13CSelvaneTable7FindAll" "13CSelvaneTable4Read"
               "13CSelvaneTableC1Ev" "13CSelvaneTableD1Ev")
  string(FIND "${names}" "${member}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${member}")
  endif()
endforeach()
