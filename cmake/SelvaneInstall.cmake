# Installs the library, its public headers, a CMake package exporting
# SelvaneLibrary::SelvaneLibrary, and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SELVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SelvaneLibrary)

install(TARGETS SelvaneLibrary
  EXPORT SelvaneLibraryTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(FILES
  ${PROJECT_SOURCE_DIR}/query/include/SelvaneLibrary/SelvaneLibrary.h
  ${PROJECT_SOURCE_DIR}/query/include/SelvaneLibrary/SelvaneObject.h
  ${PROJECT_SOURCE_DIR}/query/include/SelvaneLibrary/SelvaneTable.h
  ${PROJECT_SOURCE_DIR}/query/include/SelvaneLibrary/DBParam.h
  ${PROJECT_SOURCE_DIR}/query/include/SelvaneLibrary/Export.h
  ${PROJECT_SOURCE_DIR}/fields/include/SelvaneLibrary/FieldManager.h
  ${PROJECT_SOURCE_DIR}/fields/include/SelvaneLibrary/FieldAttr.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/SelvaneLibrary)

install(EXPORT SelvaneLibraryTargets
  NAMESPACE SelvaneLibrary::
  FILE SelvaneLibraryTargets.cmake
  DESTINATION ${SELVANE_CMAKE_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/SelvaneLibraryConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SelvaneLibraryConfig.cmake
  INSTALL_DESTINATION ${SELVANE_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/SelvaneLibraryConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/SelvaneLibraryConfig.cmake
  ${PROJECT_BINARY_DIR}/SelvaneLibraryConfigVersion.cmake
  DESTINATION ${SELVANE_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so that an install with
# --prefix (or a moved install tree) still points at itself.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(SELVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH SELVANE_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" SELVANE_PC_UP "${SELVANE_PC_UP}")
  set(SELVANE_PC_PREFIX "\${pcfiledir}/${SELVANE_PC_UP}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(SELVANE_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(SELVANE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(SELVANE_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(SELVANE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/SelvaneLibrary.pc.in
  ${PROJECT_BINARY_DIR}/SelvaneLibrary.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/SelvaneLibrary.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
