# The application shell's engine parts: settings store, browser start, version reader.
target_sources(plexengine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/RegistryKey.cpp
)
