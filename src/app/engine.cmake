# The application shell's engine parts: settings store, browser start, version reader.
set(PLEXAVO_MAKER_SITE "" CACHE STRING
  "Web host of the maker's pages (e.g. https://example.org/plexavo); empty: the pages shipped with the program")

target_sources(plexengine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FileVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OpenWithBrowser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RegistryKey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VersionBlock.cpp
)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/OpenWithBrowser.cpp PROPERTIES
  COMPILE_DEFINITIONS "PLEXAVO_MAKER_SITE=\"${PLEXAVO_MAKER_SITE}\"")
