# The detection window.
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CDetectDlg.h
  ${CMAKE_CURRENT_LIST_DIR}/CDetectDlg.cpp)
