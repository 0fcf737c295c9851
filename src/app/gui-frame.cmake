# The main frame, the application object, the About box and the help tips.
qt_add_resources(plexgui plexavo_frame_resources
  PREFIX /plexavo
  BASE ${CMAKE_CURRENT_LIST_DIR}/../res
  FILES ${CMAKE_CURRENT_LIST_DIR}/../res/plexavo.svg)
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CAboutDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CHelpTipsDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMainFrame_Commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelApp_Services.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
)
target_compile_definitions(plexgui PRIVATE
  PLEXAVO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  PLEXAVO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  PLEXAVO_VERSION_PATCH=${PROJECT_VERSION_PATCH})
# The SVG program icon is drawn by the Qt SVG plugins (libqt6svg6) at run time.
