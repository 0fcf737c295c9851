# Tests of the detection pass, the conversion window and the percentage bar.

# The stand-in source list and helpers, shared with other windows' tests.
add_library(plexgui_testsupport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/TestSourceList.h
  ${CMAKE_CURRENT_LIST_DIR}/support/TestSourceList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/BatchTestSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/support/BatchTestSupport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/TestDesktopBus.h
  ${CMAKE_CURRENT_LIST_DIR}/support/TestDesktopBus.cpp)
set_target_properties(plexgui_testsupport PROPERTIES AUTOMOC ON)
target_link_libraries(plexgui_testsupport PUBLIC plexgui plexavo_test_support Qt6::Test)
target_include_directories(plexgui_testsupport PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(plexgui_testsupport PRIVATE
  PLEXCORE_FOLDER="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
add_dependencies(plexgui_testsupport scripted_child)

plexavo_add_gui_test(test_batch_window ${CMAKE_CURRENT_LIST_DIR}/test_batch_window.cpp)
target_link_libraries(test_batch_window PRIVATE plexgui_testsupport)

plexavo_add_gui_test(test_progress_bar ${CMAKE_CURRENT_LIST_DIR}/test_progress_bar.cpp)

plexavo_add_gui_test(test_batch_driver ${CMAKE_CURRENT_LIST_DIR}/test_batch_driver.cpp)
target_link_libraries(test_batch_driver PRIVATE plexgui_testsupport)

plexavo_add_gui_test(test_detect_window ${CMAKE_CURRENT_LIST_DIR}/test_detect_window.cpp)
target_link_libraries(test_detect_window PRIVATE plexgui_testsupport)
if(TARGET Plexcore)
  add_dependencies(test_detect_window Plexcore)
endif()

if(TARGET Plexcore)
  plexavo_add_gui_test(test_batch_core ${CMAKE_CURRENT_LIST_DIR}/test_batch_core.cpp)
  target_link_libraries(test_batch_core PRIVATE plexgui_testsupport)
  add_dependencies(test_batch_core Plexcore)
endif()

# Not a test: a program to try both windows by hand or from scripts/screenshot.sh.
add_executable(plexavo_try_windows ${CMAKE_CURRENT_LIST_DIR}/support/try_windows.cpp)
target_link_libraries(plexavo_try_windows PRIVATE plexgui_testsupport)

# Not a test: the figures of bench/windows_batch.sh.
add_executable(bench_windows_batch ${PROJECT_SOURCE_DIR}/bench/windows_batch.cpp)
target_link_libraries(bench_windows_batch PRIVATE plexgui_testsupport)
