# The preview: the GStreamer player and graph helpers (no Qt, in plexmedia so
# that their tests need no window system) and the preview dialog, codec
# checks and Preview command (in the windows library).
pkg_check_modules(PLEXAVO_GST REQUIRED IMPORTED_TARGET
  gstreamer-1.0>=1.16 gstreamer-app-1.0>=1.16 gstreamer-video-1.0>=1.16 gstreamer-base-1.0>=1.16)

add_library(plexmedia STATIC
  ${CMAKE_CURRENT_LIST_DIR}/../platform/MediaGraph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GraphHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaFramework.cpp
)
target_include_directories(plexmedia PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(plexmedia PUBLIC plexengine PRIVATE PkgConfig::PLEXAVO_GST)

target_link_libraries(plexgui PUBLIC plexmedia)

target_sources(plexgui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CPreviewDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CPreviewDlg.h
  ${CMAKE_CURRENT_LIST_DIR}/PreviewWidgets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewWidgets.h
  ${CMAKE_CURRENT_LIST_DIR}/PreviewCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodecChecks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownloadPage.cpp
)
