# What ships with the program, and `make install`.
#
# The program finds the encoder core, the language packs and its pages next to
# its own file, so the build gathers them all in bin/ and the install puts
# them together in PREFIX/lib/plexavo/, with PREFIX/bin/plexavo a link to the
# program there.

include(${CMAKE_CURRENT_LIST_DIR}/VersionInfo.cmake)

# ---- the pages beside the program (help, the maker's home and download pages)
set(PLEXAVO_PAGES Plexavo.html index.html download.html plexavo.css)
set(_plexavo_page_outputs)
foreach(page IN LISTS PLEXAVO_PAGES)
  add_custom_command(
    OUTPUT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/docs/${page}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
    COMMENT "Copying ${page} next to the program"
    VERBATIM)
  list(APPEND _plexavo_page_outputs ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page})
endforeach()
# The pages show the program's icon.
add_custom_command(
  OUTPUT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/data/icons/com.vantrel.Plexavo.svg
          ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg
  DEPENDS ${PROJECT_SOURCE_DIR}/data/icons/com.vantrel.Plexavo.svg
  VERBATIM)
list(APPEND _plexavo_page_outputs ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg)
add_custom_target(plexavo_pages ALL DEPENDS ${_plexavo_page_outputs})
add_dependencies(plexavo plexavo_pages)
