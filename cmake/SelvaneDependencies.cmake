# Gives the imported targets TinyXML::TinyXML and StormLib::StormLib.
# Linux: the system packages (libtinyxml-dev, libstorm-dev).
# Windows: a vcpkg installation (tinyxml and stormlib ports).
if(WIN32 AND DEFINED VCPKG_TOOLCHAIN)
  # vcpkg's tinyxml port ships an unofficial CMake config; stormlib ships one too.
  find_package(unofficial-tinyxml CONFIG QUIET)
  if(TARGET unofficial-tinyxml::unofficial-tinyxml AND NOT TARGET TinyXML::TinyXML)
    add_library(TinyXML::TinyXML INTERFACE IMPORTED)
    set_target_properties(TinyXML::TinyXML PROPERTIES
      INTERFACE_LINK_LIBRARIES unofficial-tinyxml::unofficial-tinyxml
      INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
  endif()
  find_package(StormLib CONFIG QUIET)
  if(TARGET StormLib::storm AND NOT TARGET StormLib::StormLib)
    add_library(StormLib::StormLib INTERFACE IMPORTED)
    set_target_properties(StormLib::StormLib PROPERTIES
      INTERFACE_LINK_LIBRARIES StormLib::storm)
  endif()
endif()

if(NOT TARGET TinyXML::TinyXML)
  find_package(TinyXML REQUIRED)
endif()
if(SELVANE_ARCHIVE_READER AND NOT TARGET StormLib::StormLib)
  find_package(StormLib REQUIRED)
endif()
if(WIN32 AND TARGET StormLib::StormLib)
  # A static Windows build of the archive library reads over HTTP too.
  set_property(TARGET StormLib::StormLib APPEND PROPERTY
    INTERFACE_LINK_LIBRARIES wininet)
endif()

# The archive guard was checked against StormLib 9.22's behaviour: say which
# version was found, and warn when it is another.
if(SELVANE_ARCHIVE_READER)
  set(SELVANE_STORMLIB_CHECKED_VERSION 9.22)
  find_path(StormLib_INCLUDE_DIR StormLib.h)
  set(SELVANE_STORMLIB_VERSION "")
  if(StormLib_INCLUDE_DIR AND EXISTS "${StormLib_INCLUDE_DIR}/StormLib.h")
    file(STRINGS "${StormLib_INCLUDE_DIR}/StormLib.h" version_line
      REGEX "^#define[ \t]+STORMLIB_VERSION_STRING[ \t]+\"[^\"]*\"")
    if(version_line MATCHES "\"([^\"]*)\"")
      set(SELVANE_STORMLIB_VERSION "${CMAKE_MATCH_1}")
    endif()
  endif()
  if(SELVANE_STORMLIB_VERSION STREQUAL "")
    message(WARNING "StormLib version unknown (no STORMLIB_VERSION_STRING in "
      "StormLib.h under '${StormLib_INCLUDE_DIR}'); the archive guard was "
      "checked against ${SELVANE_STORMLIB_CHECKED_VERSION} only.")
  elseif(NOT SELVANE_STORMLIB_VERSION VERSION_EQUAL
         SELVANE_STORMLIB_CHECKED_VERSION)
    message(WARNING "StormLib ${SELVANE_STORMLIB_VERSION} found in "
      "${StormLib_INCLUDE_DIR}; the archive guard was checked against "
      "${SELVANE_STORMLIB_CHECKED_VERSION} only. Run the archive tests and "
      "fuzz targets before relying on this build.")
  else()
    message(STATUS "StormLib version: ${SELVANE_STORMLIB_VERSION}")
  endif()
endif()
