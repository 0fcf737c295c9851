# The preview: the player and its rules without Qt (GoogleTest), and the
# dialog, the Preview command and the codec checks offscreen (Qt Test). Each
# program makes its clips with ffmpeg once, so each runs as one test.
include(GoogleTest)
set(PLEXAVO_PREVIEW_TESTS ${PROJECT_SOURCE_DIR}/tests/preview)

add_executable(preview_player_tests
  ${PLEXAVO_PREVIEW_TESTS}/test_preview_rules.cpp
  ${PLEXAVO_PREVIEW_TESTS}/test_player.cpp)
target_link_libraries(preview_player_tests PRIVATE plexmedia plexavo_test_support GTest::gtest_main)
target_include_directories(preview_player_tests PRIVATE ${PLEXAVO_PREVIEW_TESTS})
add_test(NAME preview_player_tests COMMAND preview_player_tests)
set_tests_properties(preview_player_tests PROPERTIES
  LABELS preview TIMEOUT 300 ENVIRONMENT "PLEXAVO_AUDIO_SINK=fake")

# The preview on the system's GStreamer plugins less one, as where the
# package's recommended plugin sets are not installed.
pkg_get_variable(PLEXAVO_GST_PLUGINS_DIR gstreamer-1.0 pluginsdir)
add_executable(preview_missing_plugin_tests ${PLEXAVO_PREVIEW_TESTS}/test_missing_plugin.cpp)
target_link_libraries(preview_missing_plugin_tests PRIVATE plexmedia plexavo_test_support
  GTest::gtest_main)
target_include_directories(preview_missing_plugin_tests PRIVATE ${PLEXAVO_PREVIEW_TESTS})
target_compile_definitions(preview_missing_plugin_tests PRIVATE
  GST_SYSTEM_PLUGINS_DIR="${PLEXAVO_GST_PLUGINS_DIR}")
add_test(NAME preview_missing_plugin_tests COMMAND preview_missing_plugin_tests)
set_tests_properties(preview_missing_plugin_tests PROPERTIES
  LABELS preview TIMEOUT 300 ENVIRONMENT "PLEXAVO_AUDIO_SINK=fake;LC_ALL=C;LANGUAGE=C")

plexavo_add_gui_test(preview_dialog_tests ${PLEXAVO_PREVIEW_TESTS}/test_preview_dialog.cpp)
target_include_directories(preview_dialog_tests PRIVATE ${PLEXAVO_PREVIEW_TESTS})
target_link_libraries(preview_dialog_tests PRIVATE plexavo_test_support)
if(TARGET Plexcore)
  # The marked part, converted by the real core, is checked by its length.
  target_compile_definitions(preview_dialog_tests PRIVATE
    PLEXCORE_FOLDER="$<TARGET_FILE_DIR:Plexcore>")
  add_dependencies(preview_dialog_tests Plexcore)
endif()
set_property(TEST preview_dialog_tests APPEND PROPERTY ENVIRONMENT "PLEXAVO_AUDIO_SINK=fake")
set_property(TEST preview_dialog_tests APPEND PROPERTY LABELS preview)

plexavo_add_gui_test(preview_codec_check_tests ${PLEXAVO_PREVIEW_TESTS}/test_codec_checks.cpp)
if(TARGET Plexcore)
  target_compile_definitions(preview_codec_check_tests PRIVATE
    PLEXCORE_FOLDER="$<TARGET_FILE_DIR:Plexcore>")
  add_dependencies(preview_codec_check_tests Plexcore)
endif()
set_property(TEST preview_codec_check_tests APPEND PROPERTY LABELS preview)

# The start-up check's answers, with the scripted child in the program's place.
plexavo_add_gui_test(preview_check_tests ${PLEXAVO_PREVIEW_TESTS}/test_preview_check.cpp)
target_link_libraries(preview_check_tests PRIVATE plexavo_test_support)
add_dependencies(preview_check_tests scripted_child)
set_property(TEST preview_check_tests APPEND PROPERTY LABELS preview)

# Where GStreamer starts: not at the window's start, but in the preview check's
# child (this build's plexavo) and at the preview's first opening.
plexavo_add_gui_test(preview_first_use_tests ${PLEXAVO_PREVIEW_TESTS}/test_first_use.cpp)
target_include_directories(preview_first_use_tests PRIVATE ${PLEXAVO_PREVIEW_TESTS}
  ${PROJECT_SOURCE_DIR}/tests/gui/mainwin)
target_link_libraries(preview_first_use_tests PRIVATE plexavo_test_support)
add_dependencies(preview_first_use_tests plexavo ${PLEXAVO_PACK_TARGETS})
set_property(TEST preview_first_use_tests APPEND PROPERTY ENVIRONMENT "PLEXAVO_AUDIO_SINK=fake")
set_property(TEST preview_first_use_tests APPEND PROPERTY LABELS preview)

include(${PROJECT_SOURCE_DIR}/bench/preview/preview.cmake)
