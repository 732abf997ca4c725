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

set(VASTELO_PACKAGE_MAINTAINER "Vastelo developers <vastelo@example.org>"
    CACHE STRING "Maintainer field of the Debian package: a name and an address")

# The day PROJECT_VERSION was released: it dates the changelog entry, the manual pages and the
# AppStream release, so that building the same version again on another day gives the same files.
# Move it on together with the version in the top-level project().
set(VASTELO_RELEASE_DATE 2026-12-08)

# The changelog wants the date as RFC 5322 does, weekday included; the weekday comes from
# Sakamoto's method, so no date tool of the build machine (or its time zone) is asked.
function(vastelo_rfc5322_date iso out)
  if(NOT iso MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "VASTELO_RELEASE_DATE ${iso} is not YYYY-MM-DD")
  endif()
  set(year ${CMAKE_MATCH_1})
  set(month ${CMAKE_MATCH_2})  # math() reads "08" as eight: a leading zero is no octal sign there
  set(day ${CMAKE_MATCH_3})
  set(month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET month_offsets ${index} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${index} month_name)
  set(${out} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
vastelo_rfc5322_date(${VASTELO_RELEASE_DATE} VASTELO_RELEASE_DATE_RFC5322)

# Manual pages, the changelog and the AppStream file carry PROJECT_VERSION, filled in here, so
# that the number is written in one place only.
set(vastelo_generated ${CMAKE_BINARY_DIR}/packaging)
find_program(VASTELO_GZIP gzip REQUIRED)
set(vastelo_gzipped)
# Debian installs manual pages and changelogs compressed, at the strongest level and without the
# name and time stamp gzip would otherwise store, so that equal input gives equal packages.
function(vastelo_gzip template name)
  configure_file(${template} ${vastelo_generated}/${name} @ONLY)
  vastelo_gzip_made(${name})
  set(vastelo_gzipped ${vastelo_gzipped} PARENT_SCOPE)
endfunction()
# The same for a file that a build step makes in the generated folder.
function(vastelo_gzip_made name)
  set(gz ${vastelo_generated}/gz/${name}.gz)
  add_custom_command(
    OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${vastelo_generated}/${name} ${vastelo_generated}/gz/${name}
    COMMAND ${VASTELO_GZIP} -9nf ${vastelo_generated}/gz/${name}
    DEPENDS ${vastelo_generated}/${name}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(vastelo_gzipped ${vastelo_gzipped} ${gz} PARENT_SCOPE)
endfunction()
vastelo_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog.in changelog)

# Both packages come from one source, so they carry the same copyright file and changelog, each in
# its own documentation folder as Debian policy wants.
function(vastelo_install_package_docs component package)
  install(FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/copyright ${vastelo_generated}/gz/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

# A stripped program (cpack, or cmake --install --strip) loses its symbols but keeps the compiler's
# version notes in .comment, which nothing reads at run time; Debian's own tools drop them too.
function(vastelo_install_program target component)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  if(CMAKE_OBJCOPY)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
  endif()
endfunction()

# bash-completion looks for a command's completion in its completions folder on first use. Its
# pkg-config file names that folder; installed under our own prefix, the path below its prefix is
# kept (/usr/local/share/... is searched as well).
set(vastelo_completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(vastelo_completions_full bash-completion completionsdir)
  pkg_get_variable(vastelo_completions_prefix bash-completion prefix)
  if(vastelo_completions_full AND vastelo_completions_prefix
     AND vastelo_completions_full MATCHES "^${vastelo_completions_prefix}/(.+)$")
    set(vastelo_completions ${CMAKE_MATCH_1})
  endif()
endif()
set(VASTELO_BASH_COMPLETION_DIR ${vastelo_completions}
    CACHE STRING "Where the bash completion of vastelo-cli goes, relative to the install prefix")

if(TARGET vastelo-cli)
  vastelo_install_program(vastelo-cli cli)
  # The manual page's synopsis, commands, options and exit codes, and the whole completion, come
  # from the command's own declaration of its interface.
  add_executable(vastelo_cli_interface ${CMAKE_CURRENT_LIST_DIR}/cli_interface.cpp)
  target_link_libraries(vastelo_cli_interface PRIVATE vastelo_cli vastelo_warnings)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vastelo-cli.1.in ${vastelo_generated}/vastelo-cli.1.template @ONLY)
  foreach(kind IN ITEMS man bash)
    if(kind STREQUAL man)
      set(template ${vastelo_generated}/vastelo-cli.1.template)
      set(made ${vastelo_generated}/vastelo-cli.1)
    else()
      set(template ${CMAKE_CURRENT_LIST_DIR}/vastelo-cli.bash.in)
      set(made ${vastelo_generated}/vastelo-cli.bash)
    endif()
    add_custom_command(
      OUTPUT ${made}
      COMMAND vastelo_cli_interface ${kind} ${template} ${made}
      DEPENDS vastelo_cli_interface ${template}
      COMMENT "Writing the ${kind} interface of vastelo-cli"
      VERBATIM)
  endforeach()
  vastelo_gzip_made(vastelo-cli.1)
  list(APPEND vastelo_gzipped ${vastelo_generated}/vastelo-cli.bash)
  install(FILES ${vastelo_generated}/gz/vastelo-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
  install(FILES ${vastelo_generated}/vastelo-cli.bash DESTINATION ${VASTELO_BASH_COMPLETION_DIR}
          RENAME vastelo-cli COMPONENT cli)
  vastelo_install_package_docs(cli vastelo-cli)
endif()
if(NOT TARGET vastelo)
  set(vastelo_components cli)
else()
  set(vastelo_components window cli)

  # Icon themes read PNG (and SVG); the window reads the XPM drawings from its resources. A small
  # build-time converter turns each XPM into a PNG, so the XPM stays the one drawing to edit, no
  # committed PNG can drift from it, and the installed program gains no dependency.
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

  vastelo_install_program(vastelo window)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/vastelo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/vastelo.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  # The README carries the guide to putting the generated files on a server; whoever installed
  # the package needs it where the program is, not in a source tree they may never have seen.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vastelo COMPONENT window)
  vastelo_gzip(${CMAKE_CURRENT_LIST_DIR}/vastelo.1.in vastelo.1)
  install(FILES ${vastelo_generated}/gz/vastelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
  # Software centres read the window's description, screenshots and releases from here.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/org.example.vastelo.metainfo.xml.in
                 ${vastelo_generated}/org.example.vastelo.metainfo.xml @ONLY)
  install(FILES ${vastelo_generated}/org.example.vastelo.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
  vastelo_install_package_docs(window vastelo)
endif()
add_custom_target(vastelo_package_docs ALL DEPENDS ${vastelo_gzipped})

# --- The Debian package ---------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vastelo)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vastelo_components})
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME vastelo)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vastelo-cli)
# One source, two binary packages, as the shared changelog says: "vastelo (VERSION)".
set(CPACK_DEBIAN_PACKAGE_SOURCE vastelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vastelo)
set(CPACK_PACKAGE_CONTACT ${VASTELO_PACKAGE_MAINTAINER})
# CPackDeb puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before every package's description unless it
# is CPack's own default; here each package's first line is its own synopsis, so that apt tells
# the window from the command, and the summary is left at that default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
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
Vastelo is a small desktop tool for web-site administrators. It loads a list
of users and passwords in Shift-JIS (CP932) or UTF-8 into a table, hashes
every password with the traditional DES-based crypt(3) hash or with bcrypt,
SHA-512 or MD5 (apr1), and saves .htpasswd, .htaccess and passwd.txt into a
chosen folder, ready to protect a directory of an HTTP server with Basic
authentication. It also maintains an existing .htpasswd without re-issuing
anyone's password. The user interface is Japanese.")
set(CPACK_COMPONENT_CLI_DESCRIPTION "makes and maintains .htpasswd files for Basic authentication (command)
vastelo-cli does what the Vastelo window does from the command line, for
servers without a desktop and for deploy scripts: it builds the three files
(.htpasswd, .htaccess and passwd.txt) from a list of users and passwords;
adds, imports, deletes and verifies users of an existing .htpasswd, with
every untouched line kept byte for byte and concurrent runs locked out of
each other; and audits a file for weak hashes. It needs no Qt. Its messages
are Japanese.")
# A RelWithDebInfo build carries its debug information; the package has no use for it.
set(CPACK_STRIP_FILES ON)

# `package_source` would otherwise sweep build trees and the repository into the archive.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
