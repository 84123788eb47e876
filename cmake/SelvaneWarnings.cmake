# Warnings live on a private interface target so that consumers of the
# installed package never inherit them.
add_library(selvane_warnings INTERFACE)
if(MSVC)
  target_compile_options(selvane_warnings INTERFACE /W4)
  if(SELVANE_WERROR)
    target_compile_options(selvane_warnings INTERFACE /WX)
  endif()
else()
  target_compile_options(selvane_warnings INTERFACE -Wall -Wextra -Wpedantic)
  if(SELVANE_WERROR)
    target_compile_options(selvane_warnings INTERFACE -Werror)
  endif()
endif()
