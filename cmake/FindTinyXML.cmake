# Finds TinyXML 2.6 (not TinyXML-2) and defines TinyXML::TinyXML.
# Debian's libtinyxml-dev is built with TIXML_USE_STL, so every user of the
# headers must define it too or the class layouts disagree.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(PC_TinyXML QUIET tinyxml)
endif()

find_path(TinyXML_INCLUDE_DIR tinyxml.h HINTS ${PC_TinyXML_INCLUDE_DIRS})
find_library(TinyXML_LIBRARY NAMES tinyxml HINTS ${PC_TinyXML_LIBRARY_DIRS})

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(TinyXML
  REQUIRED_VARS TinyXML_LIBRARY TinyXML_INCLUDE_DIR
  VERSION_VAR PC_TinyXML_VERSION)

if(TinyXML_FOUND AND NOT TARGET TinyXML::TinyXML)
  add_library(TinyXML::TinyXML UNKNOWN IMPORTED)
  set_target_properties(TinyXML::TinyXML PROPERTIES
    IMPORTED_LOCATION "${TinyXML_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${TinyXML_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS TIXML_USE_STL)
endif()
mark_as_advanced(TinyXML_INCLUDE_DIR TinyXML_LIBRARY)
