# The fuzzing build (SELVANE_FUZZ): everything is compiled with coverage
# instrumentation for libFuzzer and checked by AddressSanitizer and
# UndefinedBehaviorSanitizer; fuzz/CMakeLists.txt links the fuzz targets
# with the libFuzzer driver. Included before any target is defined.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR
    "SELVANE_FUZZ needs clang with its libFuzzer runtime, but the C++ "
    "compiler is ${CMAKE_CXX_COMPILER_ID}. Configure a separate build folder "
    "with CC=clang CXX=clang++ (scripts/fuzz.sh does), or leave SELVANE_FUZZ "
    "off.")
endif()

set(SELVANE_FUZZ_SANITIZERS "address,undefined")
add_compile_options(
  -fsanitize=fuzzer-no-link,${SELVANE_FUZZ_SANITIZERS}
  -fno-sanitize-recover=all
  -fno-omit-frame-pointer)
add_link_options(-fsanitize=${SELVANE_FUZZ_SANITIZERS})
