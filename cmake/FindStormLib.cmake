# Finds StormLib (libstorm) and defines StormLib::StormLib.
find_path(StormLib_INCLUDE_DIR StormLib.h)
find_library(StormLib_LIBRARY NAMES storm StormLib)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(StormLib
  REQUIRED_VARS StormLib_LIBRARY StormLib_INCLUDE_DIR)

if(StormLib_FOUND AND NOT TARGET StormLib::StormLib)
  add_library(StormLib::StormLib UNKNOWN IMPORTED)
  set_target_properties(StormLib::StormLib PROPERTIES
    IMPORTED_LOCATION "${StormLib_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${StormLib_INCLUDE_DIR}")
endif()
mark_as_advanced(StormLib_INCLUDE_DIR StormLib_LIBRARY)
