# System libraries that are no KnownDLLs, imported with delay loading: the loader then does not
# look for them beside the program (where anyone who may write that folder could plant a copy)
# but the program's first call loads them with LoadLibrary, after main has restricted the
# search to the system folder (SetDefaultDllDirectories). mingw-w64's dlltool makes the
# delay-import library (-y) from a list of the library's exports, taken here from the system
# import library itself; the delay-load helper is mingw-w64's own (libmingwex).
#
# pellux_delay_import(<name> <DLL file>) gives the interface target pellux_delayed_<name>, to
# link instead of <name>.
function(pellux_delay_import name dll)
  find_library(pellux_import_${name} NAMES lib${name}.a ${name} REQUIRED NO_CACHE)
  execute_process(COMMAND ${CMAKE_NM} -g --defined-only "${pellux_import_${name}}"
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(machine i386:x86-64)
    set(pattern "__imp_([A-Za-z0-9_]+)")
    set(decoration "")
  else()
    # i686: stdcall names carry their argument bytes (_Name@8); imported by the plain name (-k).
    set(machine i386)
    set(pattern "__imp__([A-Za-z0-9_]+@[0-9]+)")
    set(decoration -k)
  endif()
  string(REGEX MATCHALL " I ${pattern}" entries "${symbols}")
  set(exports "")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE " I ${pattern}" "\\1" export "${entry}")
    string(APPEND exports "  ${export}\n")
  endforeach()
  if(exports STREQUAL "")
    message(FATAL_ERROR "No exports of ${dll} found in ${pellux_import_${name}}")
  endif()
  set(folder "${PROJECT_BINARY_DIR}/delay_imports")
  file(WRITE "${folder}/${name}.def" "LIBRARY ${dll}\nEXPORTS\n${exports}")
  add_custom_command(OUTPUT "${folder}/libdelayed_${name}.a"
                     COMMAND ${CMAKE_DLLTOOL} -m ${machine} ${decoration} -d "${folder}/${name}.def"
                             -D ${dll} -y "${folder}/libdelayed_${name}.a"
                     DEPENDS "${folder}/${name}.def" VERBATIM)
  add_custom_target(pellux_delay_import_${name} DEPENDS "${folder}/libdelayed_${name}.a")
  add_library(pellux_delayed_${name} INTERFACE)
  add_dependencies(pellux_delayed_${name} pellux_delay_import_${name})
  target_link_libraries(pellux_delayed_${name} INTERFACE "${folder}/libdelayed_${name}.a")
endfunction()

if(WIN32)
  pellux_delay_import(version VERSION.dll)
  pellux_delay_import(wininet WININET.dll)
endif()
