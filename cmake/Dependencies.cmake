# Header-only libraries from the Debian packages. A cross build must not put /usr/include on its
# search path (it would pick up glibc's headers), so each library gets a folder of its own holding
# only a link to its headers.
set(PELLUX_THIRD_PARTY_INCLUDE "${CMAKE_BINARY_DIR}/third_party/include")
file(MAKE_DIRECTORY "${PELLUX_THIRD_PARTY_INCLUDE}")
foreach(entry boost nlohmann rapidxml)
  if(NOT EXISTS "${PELLUX_THIRD_PARTY_INCLUDE}/${entry}")
    if(NOT EXISTS "/usr/include/${entry}")
      message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/install-deps.sh")
    endif()
    file(CREATE_LINK "/usr/include/${entry}" "${PELLUX_THIRD_PARTY_INCLUDE}/${entry}" SYMBOLIC)
  endif()
endforeach()

add_library(pellux_third_party INTERFACE)
target_include_directories(pellux_third_party SYSTEM INTERFACE "${PELLUX_THIRD_PARTY_INCLUDE}")
# Boost.Asio on Windows needs Winsock; we never use its deprecated io_service spelling.
target_compile_definitions(pellux_third_party INTERFACE BOOST_ASIO_NO_DEPRECATED)
if(WIN32)
  target_compile_definitions(pellux_third_party INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(pellux_third_party INTERFACE ws2_32 mswsock)
  target_compile_options(pellux_third_party INTERFACE
                         -include "${PROJECT_SOURCE_DIR}/cmake/windows_prelude.h")
endif()

find_package(Threads REQUIRED)

if(PELLUX_TESTS)
  # GoogleTest from its Debian source package, so that every build (cross builds and sanitizer
  # builds alike) compiles it with the same compiler and flags as our code.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()
