# The version of every program, from project(... VERSION major.minor.build.revision).
set(PELLUX_VERSION_DEFINITIONS
    PELLUX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    PELLUX_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    PELLUX_VERSION_BUILD=${PROJECT_VERSION_PATCH})

if(WIN32)
  # One VERSIONINFO resource, compiled once by windres and linked into every Windows program,
  # which reads its own version back from its file.
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${CMAKE_BINARY_DIR}/version.rc" @ONLY)
  add_library(pellux_version_resource OBJECT "${CMAKE_BINARY_DIR}/version.rc")
endif()

# Gives a program the version resource (Windows; elsewhere the version is a compile definition
# of the code that reports it). Every add_executable of ours calls it.
function(pellux_program_version target)
  if(WIN32)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:pellux_version_resource>)
  endif()
endfunction()
