# The HTML templates ship beside the program that shows them: html_templates/ in its folder,
# copied there each time the program is built.
function(pellux_ship_templates target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory "${PROJECT_SOURCE_DIR}/html_templates"
            "$<TARGET_FILE_DIR:${target}>/html_templates"
    VERBATIM)
endfunction()
