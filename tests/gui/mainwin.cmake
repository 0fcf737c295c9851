# The main window: the view's rules, the frame, the numbers under a German
# locale, and one run from adding files to converted output with the real core.
plexavo_add_gui_test(test_mainview mainwin/test_mainview.cpp mainwin/MainWinSupport.h)
target_link_libraries(test_mainview PRIVATE plexavo_test_support)
plexavo_add_gui_test(test_mainwin_paths mainwin/test_mainwin_paths.cpp)
plexavo_add_gui_test(test_mainframe mainwin/test_mainframe.cpp mainwin/MainWinSupport.h)
target_link_libraries(test_mainframe PRIVATE plexavo_test_support PkgConfig::PLEXAVO_GIO)
add_dependencies(test_mainframe scripted_child) # the stand-in core of the window walk
# The About box shows the version project() sets.
target_compile_definitions(test_mainframe PRIVATE PLEXAVO_PROJECT_VERSION="${PROJECT_VERSION}")

# The decimal point under a German locale (installed by scripts/install-deps.sh).
plexavo_add_gui_test(test_mainwin_locale mainwin/test_mainwin_locale.cpp)
set_property(TEST test_mainwin_locale APPEND PROPERTY ENVIRONMENT "LC_ALL=de_DE.UTF-8")

# From Add to converted files with the real core, under the German locale.
if(TARGET Plexcore)
  plexavo_add_gui_test(test_mainwin_endtoend mainwin/test_mainwin_endtoend.cpp)
  target_compile_definitions(test_mainwin_endtoend PRIVATE PLEXCORE_FOLDER="$<TARGET_FILE_DIR:Plexcore>/")
  add_dependencies(test_mainwin_endtoend Plexcore)
  set_property(TEST test_mainwin_endtoend APPEND PROPERTY ENVIRONMENT "LC_ALL=de_DE.UTF-8")
  set_property(TEST test_mainwin_endtoend APPEND PROPERTY LABELS integration)
endif()

# Benchmark (not a test): bench/mainwin/run.sh runs it.
add_executable(bench_mainwin_rows ${PROJECT_SOURCE_DIR}/bench/mainwin/bench_rows.cpp)
target_link_libraries(bench_mainwin_rows PRIVATE plexgui)
target_include_directories(bench_mainwin_rows PRIVATE ${PROJECT_SOURCE_DIR}/bench)

# The window stopped by a signal, run as separate programs with the real core.
if(TARGET Plexcore)
  # Not a test: the window's start plus one press of Convert (see its top).
  add_executable(plexavo_convert_at_start mainwin/ConvertAtStart.cpp)
  target_link_libraries(plexavo_convert_at_start PRIVATE plexgui)

  plexavo_add_gui_test(test_mainwin_signals mainwin/test_mainwin_signals.cpp)
  target_link_libraries(test_mainwin_signals PRIVATE plexgui_testsupport)
  target_compile_definitions(test_mainwin_signals PRIVATE PLEXAVO_BIN_FOLDER="$<TARGET_FILE_DIR:plexavo>/")
  add_dependencies(test_mainwin_signals Plexcore plexavo plexavo_convert_at_start)
  set_property(TEST test_mainwin_signals APPEND PROPERTY LABELS integration)

  # The list kept on disk and restored; the real program killed mid-batch.
  plexavo_add_gui_test(test_mainwin_restore mainwin/test_mainwin_restore.cpp mainwin/MainWinSupport.h)
  target_link_libraries(test_mainwin_restore PRIVATE plexgui_testsupport)
  target_compile_definitions(test_mainwin_restore PRIVATE
    PLEXAVO_BIN_FOLDER="$<TARGET_FILE_DIR:plexavo>/")
  add_dependencies(test_mainwin_restore Plexcore plexavo plexavo_convert_at_start scripted_child)
  set_property(TEST test_mainwin_restore APPEND PROPERTY LABELS integration)

  # Names that are not UTF-8 and settings that cannot be saved, through the window.
  plexavo_add_gui_test(test_mainwin_userdata mainwin/test_mainwin_userdata.cpp)
  target_link_libraries(test_mainwin_userdata PRIVATE plexgui_testsupport)
  add_dependencies(test_mainwin_userdata Plexcore)
  set_property(TEST test_mainwin_userdata APPEND PROPERTY LABELS integration)
endif()

# Room for every script without keeping the fallback fonts loaded.
plexavo_add_gui_test(test_script_heights test_script_heights.cpp)
target_link_libraries(test_script_heights PRIVATE plexavo_test_support)
