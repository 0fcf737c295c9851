# The start and memory benchmark's floor (bench/start/run.sh builds and runs
# it): an empty Qt window, with the program's build type and flags.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(bench_empty_window EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/empty_window.cpp)
target_link_libraries(bench_empty_window PRIVATE Qt6::Widgets)
