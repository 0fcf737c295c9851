# The hyperlink label (About box).
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CHyperLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CHyperLink.h
)
