# Turns one scdoc source into its troff manual page (cmake -P, from the custom command of
# doc/CMakeLists.txt): scdoc reads standard input and writes standard output, and the page is
# written to a scratch name first and renamed, so that a failed run leaves no page behind that
# the build would take as up to date.
# Variables: SCDOC (the program), SOURCE (the .scd file), OUTPUT (the page).
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${SOURCE}" OUTPUT_FILE "${OUTPUT}.tmp"
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}.tmp")
  message(FATAL_ERROR "scdoc failed on ${SOURCE} (${result}): ${errors}")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
