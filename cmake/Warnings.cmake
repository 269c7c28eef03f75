add_library(pellux_warnings INTERFACE)
target_compile_options(pellux_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                 -Wno-sign-conversion -Wnon-virtual-dtor)
if(PELLUX_WERROR)
  target_compile_options(pellux_warnings INTERFACE -Werror)
endif()

# Adds a static library of ours with the usual settings.
function(pellux_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC pellux_third_party Threads::Threads PRIVATE pellux_warnings)
endfunction()
