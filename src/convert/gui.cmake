# The conversion window (its batch driver is engine code: engine.cmake).
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CConvertProgressDlg.h
  ${CMAKE_CURRENT_LIST_DIR}/CConvertProgressDlg.cpp)
