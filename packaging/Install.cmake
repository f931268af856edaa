# Installation layout, desktop integration and the Debian package.
#
#   cmake -S . -B build -G Ninja -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build
#   DESTDIR=/tmp/stage cmake --install build     # staged install
#   cpack --config build/CPackConfig.cmake -G DEB -B build/package
#
# Installed (prefix /usr):
#   bin/korvanta-menubar
#   share/applications/com.korvanta.KorvantaMenuBar.desktop      menu entry
#   /etc/xdg/autostart/com.korvanta.KorvantaMenuBar.desktop       start at login
#   share/metainfo/com.korvanta.KorvantaMenuBar.metainfo.xml      AppStream
#   share/icons/hicolor/{NxN,scalable}/apps/com.korvanta.KorvantaMenuBar.{png,svg}
#   share/man/man1/korvanta-menubar.1.gz
#   share/doc/korvanta-menubar/{copyright,changelog.gz}

include(GNUInstallDirs)

set(KMB_APP_ID "com.korvanta.KorvantaMenuBar")
set(KMB_PACKAGE_NAME "korvanta-menubar")
set(KMB_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(KMB_RESOURCES_DIR "${CMAKE_SOURCE_DIR}/Resources")
set(KMB_PACKAGING_BINARY_DIR "${CMAKE_BINARY_DIR}/packaging")

# The sizes of the PNG renders of the icon, in pixels (square).
set(KMB_ICON_SIZES 16 22 24 32 48 64 128 256 512)

set(KMB_PACKAGE_MAINTAINER "Korvanta <packaging@korvanta.com>"
    CACHE STRING "Maintainer field of the Debian package")

# XDG autostart entries are only read from $XDG_CONFIG_DIRS/autostart (default
# /etc/xdg/autostart). For the usual prefixes /usr and /usr/local that is /etc; any
# other prefix keeps everything below itself.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(KMB_AUTOSTART_DEFAULT "/etc/xdg/autostart")
else()
  set(KMB_AUTOSTART_DEFAULT "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart")
endif()
set(KMB_AUTOSTART_DIR "${KMB_AUTOSTART_DEFAULT}"
    CACHE PATH "Absolute directory for the XDG autostart entry")

# --- Generated files: icon renders, man page, changelog ------------------------------

option(KMB_INSTALL_PNG_ICONS "Render and install PNG sizes of the icon (needs rsvg-convert)" ON)
set(KMB_ICON_SIZES_INSTALLED "")

set(KMB_GENERATED_FILES "")
set(KMB_ICON_SVG "${KMB_RESOURCES_DIR}/icons/AppIcon.svg")
set(KMB_ICON_TREE "${KMB_PACKAGING_BINARY_DIR}/icons/hicolor")

if(KMB_INSTALL_PNG_ICONS)
  find_program(KMB_RSVG_CONVERT rsvg-convert)
  if(NOT KMB_RSVG_CONVERT)
    message(FATAL_ERROR
      "rsvg-convert not found: it renders the PNG icons. Install it (Debian: librsvg2-bin) "
      "or configure with -DKMB_INSTALL_PNG_ICONS=OFF to install only the scalable icon.")
  endif()
  set(KMB_ICON_SIZES_INSTALLED ${KMB_ICON_SIZES})
  foreach(size IN LISTS KMB_ICON_SIZES)
    set(png "${KMB_ICON_TREE}/${size}x${size}/apps/${KMB_APP_ID}.png")
    add_custom_command(
      OUTPUT "${png}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${KMB_ICON_TREE}/${size}x${size}/apps"
      COMMAND "${KMB_RSVG_CONVERT}" --width=${size} --height=${size} --keep-aspect-ratio
              --format=png --output "${png}" "${KMB_ICON_SVG}"
      DEPENDS "${KMB_ICON_SVG}"
      COMMENT "Rendering the ${size}x${size} icon"
      VERBATIM)
    list(APPEND KMB_GENERATED_FILES "${png}")
    install(FILES "${png}"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
  endforeach()
endif()

install(FILES "${KMB_ICON_SVG}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
        RENAME "${KMB_APP_ID}.svg")

# Debian wants man pages and the changelog compressed with gzip -9n (no name, no time
# stamp, so the package is reproducible).
find_program(KMB_GZIP gzip REQUIRED)
function(kmb_gzip input output)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${KMB_GZIP}" -9nc "${input}" > "${output}"
    DEPENDS "${input}"
    COMMENT "Compressing ${output}"
    VERBATIM)
  set(KMB_GENERATED_FILES ${KMB_GENERATED_FILES} "${output}" PARENT_SCOPE)
endfunction()

configure_file("${KMB_PACKAGING_DIR}/korvanta-menubar.1"
               "${KMB_PACKAGING_BINARY_DIR}/korvanta-menubar.1" @ONLY)
kmb_gzip("${KMB_PACKAGING_BINARY_DIR}/korvanta-menubar.1"
         "${KMB_PACKAGING_BINARY_DIR}/korvanta-menubar.1.gz")
kmb_gzip("${KMB_PACKAGING_DIR}/changelog" "${KMB_PACKAGING_BINARY_DIR}/changelog.gz")

add_custom_target(kmb_packaging_files ALL DEPENDS ${KMB_GENERATED_FILES})
# Also built by "--target korvanta-menubar", so an install after that finds them.
add_dependencies(korvanta-menubar kmb_packaging_files)

# --- Install rules ---------------------------------------------------------------------

install(TARGETS korvanta-menubar RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

install(FILES "${KMB_RESOURCES_DIR}/${KMB_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${KMB_RESOURCES_DIR}/${KMB_APP_ID}.autostart.desktop"
        DESTINATION "${KMB_AUTOSTART_DIR}"
        RENAME "${KMB_APP_ID}.desktop")
install(FILES "${KMB_RESOURCES_DIR}/${KMB_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

install(FILES "${KMB_PACKAGING_BINARY_DIR}/korvanta-menubar.1.gz"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
# Named after the package, not the project, as Debian Policy 12.7 wants.
install(FILES "${KMB_PACKAGING_DIR}/copyright" "${KMB_PACKAGING_BINARY_DIR}/changelog.gz"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${KMB_PACKAGE_NAME}")

# --- Debian package (cpack -G DEB) -----------------------------------------------------

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${KMB_PACKAGE_NAME}")
set(CPACK_PACKAGE_VENDOR "Korvanta")
set(CPACK_PACKAGE_CONTACT "${KMB_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "tray dashboard for disk space, memory, battery and CPU")
# Debian shows the description in 80 columns: keep its lines under that.
set(CPACK_PACKAGE_DESCRIPTION
    "A small tray utility that accompanies Korvanta, the disk cleaner. A click on
its tray icon opens a dashboard with the free and total space of the volume
that holds the home folder, free memory, battery charge and power state, CPU
load and temperature, and how much Korvanta has cleaned so far, with a button
that opens Korvanta. Once a day, when the home volume runs low on free space,
it shows a short warning under its icon.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Stripped on the staged files, see StripForDebian.cmake.
set(CPACK_PRE_BUILD_SCRIPTS "${KMB_PACKAGING_DIR}/StripForDebian.cmake")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KMB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
# The same address as the copyright file's Source and the metainfo's homepage.
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends: the shared libraries the binary links (Qt 6 Core, Gui, Widgets, Svg, DBus,
# libxcb, libcanberra, the C++ runtime), as dpkg-shlibdeps finds them. The xcb platform
# plugin ships in libqt6gui6 and the SVG plugins in libqt6svg6; libcanberra0 brings the
# freedesktop sound theme.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Wayland platform plugin, which no linked library brings: a Wayland session without
# XWayland starts the utility natively.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland")
# The program's own Chinese texts are drawn with a face embedded in it (Resources/fonts);
# Noto Sans CJK SC is the fallback for Chinese that comes from data, such as a volume's name.
# libcanberra0 alone plays through ALSA: its PulseAudio backend reaches the session's sound
# server (PulseAudio or PipeWire), where the desktop's bell is heard.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, libcanberra-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Every file under /etc must be a conffile, so that local edits survive upgrades.
if(KMB_AUTOSTART_DIR MATCHES "^/etc(/|$)")
  file(CONFIGURE OUTPUT "${KMB_PACKAGING_BINARY_DIR}/deb/conffiles"
       CONTENT "${KMB_AUTOSTART_DIR}/${KMB_APP_ID}.desktop\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${KMB_PACKAGING_BINARY_DIR}/deb/conffiles")
endif()

include(CPack)
