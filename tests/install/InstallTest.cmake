# Installs the built library into a fresh prefix, builds a separate host
# project against it with find_package (and, where pkg-config exists, with
# the .pc file), and runs one real lookup through each.
# Expects: BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, GENERATOR, and CXX_FLAGS
# (the build's own flags, so that a sanitizer build links a matching host).
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/data")
set(prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
foreach(f include/SelvaneLibrary/SelvaneLibrary.h
          include/SelvaneLibrary/FieldType.h
          include/SelvaneLibrary/detail/FieldManager.h
          lib/cmake/SelvaneLibrary/SelvaneLibraryConfig.cmake
          lib/cmake/SelvaneLibrary/SelvaneLibraryConfigVersion.cmake)
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB pc_files "${prefix}/lib*/pkgconfig/SelvaneLibrary.pc"
  "${prefix}/lib/*/pkgconfig/SelvaneLibrary.pc")
if(NOT pc_files)
  message(FATAL_ERROR "SelvaneLibrary.pc not installed")
endif()
# Public headers must not drag in the dependencies' headers.
file(GLOB_RECURSE headers "${prefix}/include/SelvaneLibrary/*.h")
foreach(h ${headers})
  file(STRINGS "${h}" bad REGEX "#include[ \t]*[<\"](StormLib|StormPort|tinyxml)")
  if(bad)
    message(FATAL_ERROR "${h} includes a dependency header: ${bad}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/consumer-build"
  -G "${GENERATOR}" -DCMAKE_CXX_COMPILER=${CXX}
  "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build")
run("${WORK_DIR}/consumer-build/consumer" "${WORK_DIR}/data")

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  list(GET pc_files 0 pc)
  get_filename_component(pc_dir "${pc}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs SelvaneLibrary
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know SelvaneLibrary")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS}")
  run(${CXX} -std=c++17 ${extra} "${SOURCE_DIR}/main.cpp" ${flags}
    -o "${WORK_DIR}/consumer-pc")
  file(MAKE_DIRECTORY "${WORK_DIR}/data-pc")
  set(libflags ${flags})
  list(FILTER libflags INCLUDE REGEX "^-L")
  list(GET libflags 0 libdir)
  string(SUBSTRING "${libdir}" 2 -1 libdir)
  set(ENV{LD_LIBRARY_PATH} "${libdir}")
  run("${WORK_DIR}/consumer-pc" "${WORK_DIR}/data-pc")
endif()
