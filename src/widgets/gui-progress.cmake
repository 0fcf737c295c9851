# The self-drawn percentage bar of the conversion window, and the path text
# that the two progress windows share.
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CPercentProgressCtrl.h
  ${CMAKE_CURRENT_LIST_DIR}/CPercentProgressCtrl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CPathLabel.h
  ${CMAKE_CURRENT_LIST_DIR}/CPathLabel.cpp)
