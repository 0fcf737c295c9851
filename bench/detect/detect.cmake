# A thousand files through the detection pass (bench/detect/run.sh builds and
# runs it; not a test).
add_executable(bench_detect_thousand EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/thousand.cpp)
set_target_properties(bench_detect_thousand PROPERTIES AUTOMOC ON)
target_link_libraries(bench_detect_thousand PRIVATE plexgui)
