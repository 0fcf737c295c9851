# The main window's image toolbar.
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CImageToolBar.cpp
)
