# The main view: the source list, the information box and the settings panel.
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelView_List.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelView_Panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SourcePaths.cpp
)
