# Lists the dynamic symbols that the shared library defines and fails when
# anything of ours but CSelvaneObject and CSelvaneTable is among them.
# Expects: LIBRARY, NM.
execute_process(COMMAND ${NM} -D -C --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(ours "")
set(leaks "")
foreach(line ${lines})
  if(line MATCHES "CSelvaneObject|CSelvaneTable")
    list(APPEND ours "${line}")
  elseif(line MATCHES "CDBFieldManager|FieldAttr_t|DBFile_t|CFileWrapper|CDBCFileWrapper|CWDBFileWrapper|CReadWindow|CByteSource|CTableSnapshot|CKeyIndex|CArchiveTable|CWdbCursor|CDbcCursor|WideToNarrow|NarrowExact|AfterFirstBackslash|AfterLastSeparator|DBCHeader_t|WDBHeader_t|TiXml|SFile")
    list(APPEND leaks "${line}")
  endif()
endforeach()
string(REPLACE ";" "\n" ours_text "${ours}")
message(STATUS "exported:\n${ours_text}")
if(leaks)
  string(REPLACE ";" "\n" leaks_text "${leaks}")
  message(FATAL_ERROR "exported beyond our classes:\n${leaks_text}")
endif()
foreach(member "CSelvaneObject::InitConfig" "CSelvaneObject::QueryDBC"
               "CSelvaneObject::QueryWDB" "CSelvaneObject::operator="
               "CSelvaneObject::CSelvaneObject(CSelvaneObject const&)"
               "CSelvaneObject::~CSelvaneObject"
               "CSelvaneTable::OpenWDB" "CSelvaneTable::OpenDBC"
               "CSelvaneTable::Query" "CSelvaneTable::FindAll"
               "CSelvaneTable::Read" "CSelvaneTable::CSelvaneTable(CSelvaneTable&&)"
               "CSelvaneTable::~CSelvaneTable")
  string(FIND "${out}" "${member}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${member}")
  endif()
endforeach()
