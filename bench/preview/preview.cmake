# The preview's benchmark program (bench/preview/run.sh builds and runs it).
add_executable(preview_bench EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/preview_bench.cpp)
set_target_properties(preview_bench PROPERTIES AUTOMOC ON)
target_link_libraries(preview_bench PRIVATE plexgui)
