# What `make install` puts where (GNUInstallDirs, so CMAKE_INSTALL_PREFIX and DESTDIR apply) and
# the Debian package that `make package` builds from the same rules with CPack.
include(GNUInstallDirs)

# ---- The MIME types the window opens: one per format it reads. -------------------------------
# Keep this list in step with the extensions the file list accepts; test_packaging fails when an
# accepted extension has no type here. A format read later is one more entry.
set(PARVULA_READ_MIME_TYPES
  image/bmp
  image/jpeg
  image/png
  image/gif
  image/vnd.microsoft.icon
  image/heic
  image/heif
  image/avif
  image/webp
  image/tiff)

# The release the package and its metadata describe; its date goes with the project version.
set(PARVULA_RELEASE_DATE "2026-12-10")
set(PARVULA_MAINTAINER "Parvula maintainers <maintainers@parvula.example>" CACHE STRING
  "Maintainer named in the Debian package")

# The AppStream id: the homepage's host reversed, then the program's name (parvula.example gives
# example.parvula.parvula), so it follows the address the project is published under.
string(REGEX REPLACE "^[a-zA-Z]+://([^/:]+).*$" "\\1" _host "${PARVULA_HOMEPAGE_URL}")
string(REGEX REPLACE "^www\\." "" _host "${_host}")
string(TOLOWER "${_host}" _host)
string(REPLACE "." ";" _labels "${_host}")
list(REVERSE _labels)
list(JOIN _labels "." _reversed)
set(PARVULA_APPSTREAM_ID "${_reversed}.parvula")

list(JOIN PARVULA_READ_MIME_TYPES ";" PARVULA_DESKTOP_MIME_TYPES)
string(APPEND PARVULA_DESKTOP_MIME_TYPES ";")
set(PARVULA_METAINFO_MEDIATYPES "")
foreach(_type IN LISTS PARVULA_READ_MIME_TYPES)
  string(APPEND PARVULA_METAINFO_MEDIATYPES "    <mediatype>${_type}</mediatype>\n")
endforeach()
string(REGEX REPLACE "\n$" "" PARVULA_METAINFO_MEDIATYPES "${PARVULA_METAINFO_MEDIATYPES}")

# The files made from the templates, in one folder of the build tree (the tests read them there).
set(PARVULA_PACKAGING_BUILD_DIR ${CMAKE_BINARY_DIR}/packaging)
set(PARVULA_PACKAGING_SOURCE_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(PARVULA_METAINFO_FILE ${PARVULA_PACKAGING_BUILD_DIR}/${PARVULA_APPSTREAM_ID}.metainfo.xml)
configure_file(${PARVULA_PACKAGING_SOURCE_DIR}/parvula.desktop.in
  ${PARVULA_PACKAGING_BUILD_DIR}/parvula.desktop @ONLY)
configure_file(${PARVULA_PACKAGING_SOURCE_DIR}/parvula.metainfo.xml.in ${PARVULA_METAINFO_FILE} @ONLY)

# Manual pages, compressed as Debian keeps them (-n: no name or time stamp in the archive).
set(_man_pages)
foreach(_page parvula parvula-cli)
  set(_page_file ${PARVULA_PACKAGING_BUILD_DIR}/${_page}.1)
  configure_file(${PARVULA_PACKAGING_SOURCE_DIR}/${_page}.1.in ${_page_file} @ONLY)
  add_custom_command(OUTPUT ${_page_file}.gz
    COMMAND gzip -9 -n -c ${_page_file} > ${_page_file}.gz
    DEPENDS ${_page_file}
    COMMENT "Compressing the manual page ${_page}.1")
  list(APPEND _man_pages ${_page_file}.gz)
endforeach()
add_custom_target(parvula_man_pages ALL DEPENDS ${_man_pages})

foreach(_target parvula parvula-cli)
  if(TARGET ${_target})
    install(TARGETS ${_target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PARVULA_PACKAGING_BUILD_DIR}/parvula.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PARVULA_METAINFO_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(_icons ${CMAKE_SOURCE_DIR}/resources/icons)
foreach(_size 16 24 32 48 64 128 256)
  install(FILES ${_icons}/hicolor/${_size}x${_size}/apps/parvula.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()
install(FILES ${_icons}/parvula.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# ---- File managers: "Make thumbnails with Parvula" on the selected files and folders. ---------
# Dolphin reads service menus from kio/servicemenus, Thunar offers the drop-in files of its
# sendto folder under "Send To", and Nautilus runs the extensions of nautilus-python (when that
# is installed). Per-user script folders are left to the user.
set(_actions ${PARVULA_PACKAGING_SOURCE_DIR}/file-manager)
configure_file(${_actions}/dolphin-servicemenu.desktop.in
  ${PARVULA_PACKAGING_BUILD_DIR}/dolphin/parvula-make-thumbnails.desktop @ONLY)
configure_file(${_actions}/thunar-sendto.desktop.in
  ${PARVULA_PACKAGING_BUILD_DIR}/thunar/parvula-make-thumbnails.desktop @ONLY)
install(FILES ${PARVULA_PACKAGING_BUILD_DIR}/dolphin/parvula-make-thumbnails.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
install(FILES ${PARVULA_PACKAGING_BUILD_DIR}/thunar/parvula-make-thumbnails.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/Thunar/sendto)
install(FILES ${_actions}/nautilus-parvula.py
  DESTINATION ${CMAKE_INSTALL_DATADIR}/nautilus-python/extensions RENAME parvula.py)

# ---- The Debian package: build/parvula_<version>_<arch>.deb ----------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parvula)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Parvula)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Make thumbnails of image files in batches")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PARVULA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PARVULA_HOMEPAGE_URL}")
# The libraries the binaries link, found by dpkg-shlibdeps, with the versions they need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees only the libraries the binaries link; libheif and libavif are opened by name
# when a file needs them, so the packages holding them are named here, at the versions built with.
set(_opened)
foreach(_codec HEIF AVIF)
  get_filename_component(_real "${PARVULA_LIB${_codec}_FILE_PATH}" REALPATH)
  execute_process(COMMAND dpkg-query -S "${_real}" OUTPUT_VARIABLE _owner ERROR_QUIET)
  if(_owner MATCHES "^([^:,]+)")
    list(APPEND _opened "${CMAKE_MATCH_1} (>= ${${_codec}_VERSION})")
  endif()
endforeach()
list(JOIN _opened ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# The context-menu entry of Nautilus runs only with its Python extension host.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-nautilus")
# The long description below the summary; CPack indents it and marks the empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Parvula fits every picture of a list of files and folders into a size box
with one of eight exact resampling filters and writes it beside its source as BMP, JPEG, PNG or
GIF, under a name that never overwrites anything. It reads BMP, JPEG, PNG, GIF and ICO.

The package holds the window (parvula) and the same batch run for the shell (parvula-cli).")
include(CPack)
