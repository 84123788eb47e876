# Lists every dynamic symbol that the shared library defines and fails unless
# each one belongs to CSelvaneObject (its members, vtable and type
# information) or CSelvaneTable (its members), and every member a host calls
# is among them. Standard library instances, linker symbols and anything
# else of ours fail the check.
# Expects: LIBRARY, NM.
execute_process(COMMAND ${NM} -D -C --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names "")
set(strays "")
foreach(line ${lines})
  if(NOT line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    list(APPEND strays "unparsed: ${line}")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(name MATCHES "^CSelvane(Object|Table)::[~A-Za-z]"
     OR name MATCHES "^(vtable|typeinfo|typeinfo name) for CSelvaneObject$")
    list(APPEND names "${name}")
  else()
    list(APPEND strays "${name}")
  endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
string(REPLACE ";" "\n" names_text "${names}")
message(STATUS "exported:\n${names_text}")
if(strays)
  string(REPLACE ";" "\n" strays_text "${strays}")
  message(FATAL_ERROR "exported beyond CSelvaneObject and CSelvaneTable:\n${strays_text}")
endif()
foreach(member "CSelvaneObject::CSelvaneObject()"
               "CSelvaneObject::CSelvaneObject(CSelvaneObject const&)"
               "CSelvaneObject::operator=(CSelvaneObject const&)"
               "CSelvaneObject::~CSelvaneObject()"
               "CSelvaneObject::InitConfig(" "CSelvaneObject::QueryDBC("
               "CSelvaneObject::QueryWDB(" "typeinfo for CSelvaneObject"
               "CSelvaneTable::CSelvaneTable()"
               "CSelvaneTable::CSelvaneTable(CSelvaneTable&&)"
               "CSelvaneTable::operator=(CSelvaneTable&&)"
               "CSelvaneTable::~CSelvaneTable()" "CSelvaneTable::OpenWDB("
               "CSelvaneTable::OpenDBC(" "CSelvaneTable::Close()"
               "CSelvaneTable::IsOpen() const" "CSelvaneTable::Query("
               "CSelvaneTable::FindAll(" "CSelvaneTable::RecordCount() const"
               "CSelvaneTable::FieldCount() const" "CSelvaneTable::Read("
               "CSelvaneTable::FieldIndex(" "CSelvaneTable::FieldName")
  string(FIND "${names_text}" "${member}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${member}")
  endif()
endforeach()
