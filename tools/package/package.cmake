# What `cmake --install` puts where (the GNU layout under CMAKE_INSTALL_PREFIX), and the
# Debian package that CPack builds from the same rules: velmora_<version>_amd64.deb.
set(VELMORA_PACKAGE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELMORA_MAINTAINER "Velmora maintainers <maintainers@velmora.example>")
# The date of this version, for the manual pages and the changelog (which wants RFC 2822).
set(VELMORA_RELEASE_DATE "2026-12-07")
set(VELMORA_CHANGELOG_DATE "Mon, 07 Dec 2026 12:00:00 +0000")

install(TARGETS velmora velmora-capture decode-jpeg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The default track and the thirteen pictures, by name: whatever else lies in data/ (the
# output of some run) stays out of the package. Read-only for everyone but root.
set(VELMORA_PICTURES tex1 tex2 tex2mask tex3 tex5 tex6 tex7 tex8 tex8mask tex9 tex9mask tex10 tex11)
list(TRANSFORM VELMORA_PICTURES REPLACE "(.+)" "${CMAKE_SOURCE_DIR}/data/textures/\\1.jpg")
install(FILES ${CMAKE_SOURCE_DIR}/data/music.mp3 DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${VELMORA_PICTURES} DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/textures
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The menu entry and its icon (drawn by `make-assets tools/package/icons icon`). The entry
# names the installed data folder, which is known only when installing (CPack installs
# under /usr whatever the build was configured for), so it is written then.
install(CODE "
  set(VELMORA_INSTALLED_DATA \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/velmora\")
  configure_file(\"${VELMORA_PACKAGE_DIR}/velmora.desktop\" \"${CMAKE_BINARY_DIR}/package/desktop/velmora.desktop\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/package/desktop/velmora.desktop\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
")
install(DIRECTORY ${VELMORA_PACKAGE_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
# What software centres list for it (AppStream), carrying the version and date.
configure_file(${VELMORA_PACKAGE_DIR}/velmora.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/package/example.velmora.velmora.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/example.velmora.velmora.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the Debian changelog carry the version and date; they are installed
# compressed (gzip -n: no name or time stamp inside, so the package builds the same twice).
set(VELMORA_GENERATED ${CMAKE_BINARY_DIR}/package)
set(velmora_pages velmora.6 velmora-capture.1 decode-jpeg.1)
set(velmora_compressed)
foreach(page ${velmora_pages} changelog)
  configure_file(${VELMORA_PACKAGE_DIR}/${page}.in ${VELMORA_GENERATED}/${page} @ONLY)
  add_custom_command(OUTPUT ${VELMORA_GENERATED}/${page}.gz
                     COMMAND gzip -9nfk ${page}
                     DEPENDS ${VELMORA_GENERATED}/${page}
                     WORKING_DIRECTORY ${VELMORA_GENERATED}
                     COMMENT "Compressing ${page}")
  list(APPEND velmora_compressed ${VELMORA_GENERATED}/${page}.gz)
endforeach()
add_custom_target(velmora_docs ALL DEPENDS ${velmora_compressed})
foreach(page ${velmora_pages})
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${VELMORA_GENERATED}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
install(FILES ${VELMORA_GENERATED}/changelog.gz ${VELMORA_PACKAGE_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELMORA_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Not "games": Debian keeps that section for games installed in /usr/games, and this
# package follows the GNU layout and carries tools besides the demo.
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Libraries the programs link come from dpkg-shlibdeps; these are needed but not linked:
# the caption font (found through fontconfig), and the GL entry points SDL opens at run
# time: libGL for the window's GLX context and libEGL for the capture tool's context
# without a display (they bring Mesa's drivers, llvmpipe included).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, libgl1, libegl1")
# velmora-capture --video runs ffmpeg; on Wayland desktops that draw no window borders
# themselves, SDL draws them through a libdecor plugin.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, libdecor-0-plugin-1-cairo")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo of 3D scenes set to music")
set(CPACK_PACKAGE_DESCRIPTION
"velmora plays one piece of music and, in time with it, renders a fixed
144-second sequence of seven 3D scenes: procedurally generated boxes, tubes
and a torus, textured with JPEG pictures and lit by one light, with additive
line overlays, white fades, black captions that tell a short story, and a
music level taken from the spectrum of what is playing. It ends by itself;
Escape ends it early. Any OpenGL desktop will do, with or without a GPU.

The package also holds velmora-capture, which renders the demo offline,
frame-exact, to PNG frames, a video with its sound, a contact sheet or a
benchmark, and decode-jpeg, which shows what the demo's own JPEG decoder
makes of a picture.")
include(CPack)
