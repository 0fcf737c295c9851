# The batch on the desktop: the notification at its end and the progress on
# the dock, against a session bus the test starts (dbus-daemon).
plexavo_add_gui_test(test_desktop ${CMAKE_CURRENT_LIST_DIR}/test_desktop.cpp)
target_link_libraries(test_desktop PRIVATE plexgui_testsupport)

# Not a test: the figure of bench/desktop_notify.sh.
add_executable(bench_desktop_notify ${PROJECT_SOURCE_DIR}/bench/desktop_notify.cpp)
target_link_libraries(bench_desktop_notify PRIVATE plexgui_testsupport)
