# Installing Vastelo as a desktop application, and packaging it as a Debian .deb with CPack.
# Included at the end of the top-level CMakeLists.txt, once every target exists.
#
#   cmake --install build --prefix ~/.local     # or /usr/local (the default), or a staging tree
#   cpack --config build/CPackConfig.cmake      # vastelo_<version>_<arch>.deb, vastelo-cli_<version>_<arch>.deb
#
# Two packages: `vastelo`, the window, and `vastelo-cli`, the command, which needs no Qt, so that a
# server without a desktop installs it alone. Without the window (VASTELO_GUI=OFF) only the command
# is installed and packaged.
include(GNUInstallDirs)

if(TARGET vastelo-cli)
  install(TARGETS vastelo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/vastelo-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
endif()
if(NOT TARGET vastelo)
  set(vastelo_components cli)
else()
    set(vastelo_components window cli)

  # Icon themes read PNG (and SVG); the window reads the XPM drawings from its resources. A small
  # build-time converter turns each XPM into a PNG, so the XPM stays the one drawing to edit, no
  # committed PNG can drift from it, and the installed program gains no dependency.
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(vastelo_xpm_to_png ${CMAKE_CURRENT_LIST_DIR}/xpm_to_png.cpp)
  target_link_libraries(vastelo_xpm_to_png PRIVATE Qt6::Gui vastelo_warnings)

  set(vastelo_icon_pngs)
  foreach(size IN ITEMS 16 32)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/vastelo.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND vastelo_xpm_to_png ${PROJECT_SOURCE_DIR}/resources/vastelo-${size}.xpm ${png} ${size}
      DEPENDS vastelo_xpm_to_png ${PROJECT_SOURCE_DIR}/resources/vastelo-${size}.xpm
      COMMENT "Converting the ${size}x${size} icon to PNG"
      VERBATIM)
    list(APPEND vastelo_icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT window)
  endforeach()
  add_custom_target(vastelo_icons ALL DEPENDS ${vastelo_icon_pngs})

  install(TARGETS vastelo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/vastelo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/vastelo.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  # The README carries the guide to putting the generated files on a server; whoever installed
  # the package needs it where the program is, not in a source tree they may never have seen.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vastelo COMPONENT window)
endif()

# --- The Debian package ---------------------------------------------------------------------
set(VASTELO_PACKAGE_MAINTAINER "Vastelo developers <vastelo@example.org>"
    CACHE STRING "Maintainer field of the Debian package: a name and an address")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vastelo)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vastelo_components})
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME vastelo)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vastelo-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vastelo)
set(CPACK_PACKAGE_CONTACT ${VASTELO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes .htpasswd and .htaccess files for Basic authentication")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from dpkg-shlibdeps, with the lowest versions that carry
# the symbols it uses. Two packages it needs are loaded at run time rather than linked, so no
# tool can find them: the platform plugins (libqt6gui6 only recommends them, and without the
# xcb plugin the window cannot open) and the IPA Gothic fonts that stand in for the Windows
# fonts the window's layout names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic")
# Qt's own dialogs (the file chooser, the folder chooser) speak Japanese only with these.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION web)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION web)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "makes .htpasswd and .htaccess files for Basic authentication (window)
Vastelo is a small desktop tool for web-site administrators. It loads a
user,password list in Shift-JIS (CP932) or UTF-8 into a table, hashes every
password with the traditional DES-based crypt(3) hash or with bcrypt, SHA-512
or MD5 (apr1), and saves .htpasswd, .htaccess and passwd.txt into a chosen
folder, ready to protect a directory of an HTTP server with Basic
authentication. It also maintains an existing .htpasswd without re-issuing
anyone's password. The user interface is Japanese.")
set(CPACK_COMPONENT_CLI_DESCRIPTION "makes and maintains .htpasswd files for Basic authentication (command)
vastelo-cli does what the Vastelo window does from the command line, for
servers without a desktop and for deploy scripts: it builds .htpasswd,
.htaccess and passwd.txt from a user,password list, adds, imports, deletes and
verifies users of an existing .htpasswd with every untouched line kept byte
for byte and concurrent runs locked out of each other, and audits a file for
weak hashes. It needs no Qt. Its messages are Japanese.")
# A RelWithDebInfo build carries its debug information; the package has no use for it.
set(CPACK_STRIP_FILES ON)

# `package_source` would otherwise sweep build trees and the repository into the archive.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
