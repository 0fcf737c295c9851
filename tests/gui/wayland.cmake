# The window under a headless Weston with Qt's Wayland platform, from adding a
# clip to its conversion and preview. Skipped (and counted as such) where
# Weston or Qt's Wayland platform cannot start.
if(TARGET Plexcore)
  plexavo_add_gui_test(test_wayland ${CMAKE_CURRENT_LIST_DIR}/test_wayland.cpp)
  target_link_libraries(test_wayland PRIVATE plexgui_testsupport)
  target_compile_definitions(test_wayland PRIVATE PLEXCORE_FOLDER="$<TARGET_FILE_DIR:Plexcore>/")
  add_dependencies(test_wayland Plexcore)
  set_property(TEST test_wayland APPEND PROPERTY ENVIRONMENT "PLEXAVO_AUDIO_SINK=fake")
  set_property(TEST test_wayland APPEND PROPERTY LABELS integration wayland)
  set_property(TEST test_wayland PROPERTY SKIP_REGULAR_EXPRESSION "SKIP   : TestWayland::initTestCase")
endif()
