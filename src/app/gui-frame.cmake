# The main frame, the application object, the About box and the help tips.
qt_add_resources(plexgui plexavo_frame_resources
  PREFIX /plexavo
  BASE ${PROJECT_SOURCE_DIR}/data/icons
  FILES ${PROJECT_SOURCE_DIR}/data/icons/com.vantrel.Plexavo.svg)
target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CAboutDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CHelpTipsDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMainFrame_Commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CVantrelApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
)
# The SVG program icon is drawn by the Qt SVG plugins (libqt6svg6) at run time.
