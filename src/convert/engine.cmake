# The batch driver: plain C++ so it is tested below the window.
target_sources(plexengine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BatchDriver.h
  ${CMAKE_CURRENT_LIST_DIR}/BatchDriver.cpp)
