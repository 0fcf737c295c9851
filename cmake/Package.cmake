# `make package`: plexavo_<version>_<arch>.deb, built by CPack's DEB
# generator from this build tree. It holds what `make install PREFIX=/usr`
# installs (cmake/Install.cmake), minus the full licence text, plus what
# Debian asks of a package: the copyright file, the changelog and lintian's
# overrides. Depends are read from the binaries by dpkg-shlibdeps; what no
# binary links but the program needs at run time is named below.

set(PLEXAVO_DEB_MAINTAINER "Vantrel <packages@vantrel.example>" CACHE STRING
  "The Maintainer field of the Debian package")

# The package's changelog starts with the version it packages: a release
# bumps both, and a forgotten one stops the configure instead of shipping a
# package whose changelog names another version.
set(_plexavo_changelog ${PROJECT_SOURCE_DIR}/data/package/changelog)
file(STRINGS ${_plexavo_changelog} _plexavo_changelog_head LIMIT_COUNT 1)
if(NOT _plexavo_changelog_head MATCHES "^plexavo \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "data/package/changelog starts with \"${_plexavo_changelog_head}\", "
                      "not with the project's version ${PROJECT_VERSION}")
endif()

# The Debian-only files: a component of their own, left out of `make install`.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
  COMMAND sh -c "gzip -9nc \"$0\" > changelog.gz" ${_plexavo_changelog}
  DEPENDS ${_plexavo_changelog}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
  VERBATIM)
add_custom_target(plexavo_package_files ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/data/package/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
        DESTINATION share/doc/plexavo COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/data/package/lintian-overrides
        DESTINATION share/lintian/overrides RENAME plexavo COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plexavo)
set(CPACK_PACKAGE_VENDOR Vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PLEXAVO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PLEXAVO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # plexavo_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The synopsis is the project's description; this is the text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Plexavo turns ordinary audio and video files into files that Apple
handhelds play. Add files, choose a preset for the device and convert the
whole list in one batch: MPEG-4 or H.264 video with AAC sound, at the frame
sizes of the iPod nano, iPhone 3GS, iPhone 4 and iPad. A preview marks the
part of a file to convert.
.
The conversion runs in a separate encoder core on the FFmpeg libraries; the
preview plays through GStreamer. The window speaks English, Chinese,
German, French, Spanish and Japanese.")

# Depends: the libraries the binaries link, as dpkg-shlibdeps finds them,
# and what nothing links but every user needs: the GStreamer plugins and
# decoders the preview is made of and plays MP4, MOV, 3GP, AVI, Matroska,
# Ogg, ASF/WMV, RealMedia, MP3, WAV, AU and AIFF with, and Qt's SVG plugin
# for the program's icon.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, libqt6svg6")
# Without these it still works: the preview plays silently, the toolbar
# draws its own icons, and help and folders are not opened for the user.
# What only some files or languages need is here too, and the program names
# it when it is missing: gstreamer1.0-plugins-bad previews MPEG program
# streams (.mpg, .mpeg, .vob, .dat) and times raw MPEG video (.m1v) right,
# fonts-noto-cjk draws the Chinese and Japanese packs' texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gstreamer1.0-pulseaudio | gstreamer1.0-alsa, adwaita-icon-theme, xdg-utils, gstreamer1.0-plugins-bad, fonts-noto-cjk")

# The layout of `make install PREFIX=/usr`: the install rules see /usr as
# the prefix (the desktop entry's Exec line is written from it) and the
# staging folder as DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# One package from the program's files and the Debian ones; not the licence.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

# include(CPack) also makes `package_source`: a tarball of the sources
# without the build trees and the repository.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/build[^/]*/" "/[.]git(/|$)" "/[.]cache/" "__pycache__")

# Qt's Wayland platform (a native window on a Wayland desktop) and Qt's own
# translations (the standard buttons and the file dialog in the pack's language).
string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", qt6-wayland, qt6-translations-l10n")

include(CPack)
