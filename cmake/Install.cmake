# What ships with the program, and `make install`.
#
# The program finds the encoder core, the language packs and its pages next to
# its own file, so the build gathers them all in bin/ and the install puts
# them together in PREFIX/lib/plexavo/, with PREFIX/bin/plexavo a link to the
# program there.

# `make install` puts that folder's contents into PREFIX/lib/plexavo/,
# PREFIX/bin/plexavo links to the program there, and the desktop entry,
# icons and AppStream data go where desktops look for them.

# ---- the pages beside the program (help, the maker's home and download pages)
set(PLEXAVO_PAGES Plexavo.html index.html download.html plexavo.css)
set(_plexavo_page_outputs)
foreach(page IN LISTS PLEXAVO_PAGES)
  add_custom_command(
    OUTPUT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/docs/${page}
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
    COMMENT "Copying ${page} next to the program"
    VERBATIM)
  list(APPEND _plexavo_page_outputs ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${page})
endforeach()
# The pages show the program's icon.
add_custom_command(
  OUTPUT ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/data/icons/com.vantrel.Plexavo.svg
          ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg
  DEPENDS ${PROJECT_SOURCE_DIR}/data/icons/com.vantrel.Plexavo.svg
  VERBATIM)
list(APPEND _plexavo_page_outputs ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/plexavo.svg)
add_custom_target(plexavo_pages ALL DEPENDS ${_plexavo_page_outputs})
add_dependencies(plexavo plexavo_pages)

# ---- the icon in the sizes desktops ask for, rendered from the SVG
set(PLEXAVO_APP_ID com.vantrel.Plexavo)
set(PLEXAVO_ICON_SVG ${PROJECT_SOURCE_DIR}/data/icons/${PLEXAVO_APP_ID}.svg)
set(PLEXAVO_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
set(_plexavo_icon_outputs)
if(RSVG_CONVERT)
  foreach(size IN LISTS PLEXAVO_ICON_SIZES)
    set(png ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/${PLEXAVO_APP_ID}.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${PLEXAVO_ICON_SVG}
      DEPENDS ${PLEXAVO_ICON_SVG}
      VERBATIM)
    list(APPEND _plexavo_icon_outputs ${png})
  endforeach()
else()
  message(WARNING "rsvg-convert (package librsvg2-bin) not found: only the scalable icon is installed")
endif()
add_custom_target(plexavo_icons ALL DEPENDS ${_plexavo_icon_outputs})

# ---- make install
# Everything the program looks for beside itself goes into one folder.
set(PLEXAVO_INSTALL_DIR lib/plexavo)

install(TARGETS plexavo RUNTIME DESTINATION ${PLEXAVO_INSTALL_DIR})
# The preview's player with GStreamer, loaded from beside the program.
install(TARGETS plexavo-player LIBRARY DESTINATION ${PLEXAVO_INSTALL_DIR})
if(TARGET Plexcore)
  install(TARGETS Plexcore RUNTIME DESTINATION ${PLEXAVO_INSTALL_DIR})
endif()
foreach(page IN LISTS PLEXAVO_PAGES)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/${page} DESTINATION ${PLEXAVO_INSTALL_DIR})
endforeach()
install(FILES ${PLEXAVO_ICON_SVG} DESTINATION ${PLEXAVO_INSTALL_DIR} RENAME plexavo.svg)

# Language packs are whatever LanRes*Dll.so the build left beside the program
# (any letter case), gathered when installing. PLEXAVO_PACKS_DIR in the
# environment names another folder to gather them from.
install(CODE "
  set(_from \"${CMAKE_RUNTIME_OUTPUT_DIRECTORY}\")
  if(DEFINED ENV{PLEXAVO_PACKS_DIR})
    set(_from \"\$ENV{PLEXAVO_PACKS_DIR}\")
  endif()
  file(GLOB _candidates \"\${_from}/*\")
  set(_packs)
  foreach(_file IN LISTS _candidates)
    get_filename_component(_name \"\${_file}\" NAME)
    string(TOLOWER \"\${_name}\" _lower)
    if(_lower MATCHES \"^lanres.*dll\\\\.so\$\" AND NOT IS_DIRECTORY \"\${_file}\")
      list(APPEND _packs \"\${_file}\")
    endif()
  endforeach()
  if(_packs)
    file(INSTALL \${_packs} DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${PLEXAVO_INSTALL_DIR}\"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    # A stripped install (install/strip, the package) strips the packs as
    # well: install(TARGETS) would, but they are gathered, not targets.
    if(CMAKE_INSTALL_DO_STRIP AND NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
      foreach(_pack IN LISTS _packs)
        get_filename_component(_name \"\${_pack}\" NAME)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PLEXAVO_INSTALL_DIR}/\${_name}\")
      endforeach()
    endif()
  endif()
")

# A stripped install (install/strip, the package) also drops the .comment and
# .note sections, which only name the compilers, as Debian's own strip does.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP AND NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
    file(GLOB _shipped \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${PLEXAVO_INSTALL_DIR}/*\")
    foreach(_file IN LISTS _shipped)
      if(IS_DIRECTORY \"\${_file}\" OR IS_SYMLINK \"\${_file}\")
        continue()
      endif()
      file(READ \"\${_file}\" _magic LIMIT 4 HEX)
      if(_magic STREQUAL \"7f454c46\")
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                                \"\${_file}\" RESULT_VARIABLE _status)
        if(NOT _status EQUAL 0)
          message(FATAL_ERROR \"Could not strip \${_file}\")
        endif()
      endif()
    endforeach()
  endif()
")

# PREFIX/bin/plexavo: a relative link, so the tree can be moved as a whole.
install(CODE "
  set(_bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${_bin}\")
  message(STATUS \"Installing: \${_bin}/plexavo -> ../${PLEXAVO_INSTALL_DIR}/plexavo\")
  file(CREATE_LINK ../${PLEXAVO_INSTALL_DIR}/plexavo \"\${_bin}/plexavo\" SYMBOLIC)
")

# The desktop entry starts the installed program by its full path; the path
# is known only when installing (cmake --install --prefix may change it).
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/data/${PLEXAVO_APP_ID}.desktop.in\" _entry)
  string(REPLACE \"@PLEXAVO_BIN@\" \"\${CMAKE_INSTALL_PREFIX}/bin/plexavo\" _entry \"\${_entry}\")
  set(_apps \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications\")
  file(MAKE_DIRECTORY \"\${_apps}\")
  message(STATUS \"Installing: \${_apps}/${PLEXAVO_APP_ID}.desktop\")
  file(WRITE \"\${_apps}/${PLEXAVO_APP_ID}.desktop\" \"\${_entry}\")
")

configure_file(${PROJECT_SOURCE_DIR}/data/${PLEXAVO_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/data/${PLEXAVO_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/${PLEXAVO_APP_ID}.metainfo.xml DESTINATION share/metainfo)

install(FILES ${PLEXAVO_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps)
if(RSVG_CONVERT)
  foreach(size IN LISTS PLEXAVO_ICON_SIZES)
    install(FILES ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/${PLEXAVO_APP_ID}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()
# The README, the --help text and the manual page send scripters to the guide
# and the core's description: they go with every install.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/scripting.md
              ${PROJECT_SOURCE_DIR}/docs/core.md
        DESTINATION share/doc/plexavo)
# The full licence text goes with a plain install only; the Debian package
# carries its copyright file instead (cmake/Package.cmake).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/plexavo COMPONENT license)

# The manual page, compressed without name or time stamp so that two builds
# give the same file.
configure_file(${PROJECT_SOURCE_DIR}/data/plexavo.1 ${CMAKE_BINARY_DIR}/data/plexavo.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/data/plexavo.1.gz
  COMMAND sh -c "gzip -9nc plexavo.1 > plexavo.1.gz"
  DEPENDS ${CMAKE_BINARY_DIR}/data/plexavo.1
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/data
  VERBATIM)
add_custom_target(plexavo_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/data/plexavo.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/data/plexavo.1.gz DESTINATION share/man/man1)
