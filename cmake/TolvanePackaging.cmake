# Installation and the Debian package.
#
# Everything runs from one folder, <prefix>/lib/tolvane: the programs side by
# side (ZoHaldenUpdate is looked for beside Tolvane and extracts releases
# over that folder), dict/ and audio/ below it, and the default sysconfig.xml
# and busdevcfg.xml. The programs read dictionaries and sounds from there
# unless the working directory has its own; each user's settings live in
# ~/.config/tolvane, started from those defaults (ZoTvkInstance::configDir()).
#
#   cmake --install build --prefix /opt/tolvane
#   (cd build && cpack -G DEB)

# Tolvane itself is defined once the main window's library is known.
if(COMMAND tolvane_add_program)
  tolvane_add_program()
endif()

set(TOLVANE_INSTALL_RELDIR lib/tolvane)
set(tolvane_pkg_dir ${PROJECT_BINARY_DIR}/packaging)

set(tolvane_programs)
foreach(program Tolvane ZoHaldenUpdate tolvane-cli)
  if(TARGET ${program})
    list(APPEND tolvane_programs ${program})
  endif()
endforeach()
install(TARGETS ${tolvane_programs} RUNTIME DESTINATION ${TOLVANE_INSTALL_RELDIR})

# A launcher in bin/ for each program a user starts by hand. Both keep the
# caller's folder: one that holds its own sysconfig.xml or busdevcfg.xml is
# used as it is.
foreach(program Tolvane tolvane-cli)
  if(TARGET ${program})
    set(TOLVANE_PROGRAM ${program})
    set(TOLVANE_INSTALL_RELDIR_FROM_BIN ../${TOLVANE_INSTALL_RELDIR})
    string(TOLOWER ${program} launcher)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/packaging/launcher.sh.in ${tolvane_pkg_dir}/${launcher} @ONLY)
    install(PROGRAMS ${tolvane_pkg_dir}/${launcher} DESTINATION bin)
  endif()
endforeach()

if(TARGET tolvane-dictionaries)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/dict/ DESTINATION ${TOLVANE_INSTALL_RELDIR}/dict
          FILES_MATCHING PATTERN "*.qm")
endif()
if(TARGET tolvane_audio)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/audio/ DESTINATION ${TOLVANE_INSTALL_RELDIR}/audio
          FILES_MATCHING PATTERN "*.wav")
endif()
# What a user's folder starts with: the link settings Tolvane would write
# with nothing stored (the language left to the system's), and the bus nodes.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/packaging/sysconfig.xml
              ${CMAKE_CURRENT_LIST_DIR}/packaging/busdevcfg.xml
        DESTINATION ${TOLVANE_INSTALL_RELDIR})

# The icon: the maker's logo at 128 px, rendered like every other picture.
if(TARGET tolvane-svgrender)
  set(tolvane_icon ${tolvane_pkg_dir}/tolvane.png)
  set(tolvane_logo ${PROJECT_SOURCE_DIR}/resources/svg/logo/korvelhalden.svg)
  add_custom_command(OUTPUT ${tolvane_icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${tolvane_pkg_dir}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:tolvane-svgrender> ${tolvane_logo} ${tolvane_icon} 128 128
    DEPENDS tolvane-svgrender ${tolvane_logo}
    COMMENT "Rendering the 128 px application icon"
    VERBATIM)
  add_custom_target(tolvane-icon ALL DEPENDS ${tolvane_icon})
  install(FILES ${tolvane_icon} DESTINATION share/icons/hicolor/128x128/apps)
endif()

# --- Manual pages, desktop entry, AppStream, completion, copyright, changelog --
# What a Debian user looks for beside the programs. Checked by the package
# lint of scripts/test.sh (lintian, man, desktop-file-validate, appstreamcli).
set(tolvane_meta_in ${CMAKE_CURRENT_LIST_DIR}/packaging)
set(tolvane_meta_dir ${tolvane_pkg_dir}/meta)
set(TOLVANE_VERSION ${PROJECT_VERSION})
set(TOLVANE_DEBIAN_RELEASE 1)
# One reverse-DNS id for the desktop entry and its AppStream record, after
# the maker's mail domain.
set(TOLVANE_APP_ID example.korvelhalden.tolvane)

# A new version needs its own changelog entry and AppStream release: both
# are written by hand, and a package must not carry the previous ones.
string(REPLACE "." "\\." tolvane_version_re ${PROJECT_VERSION})
file(STRINGS ${tolvane_meta_in}/changelog.Debian tolvane_changelog_top LIMIT_COUNT 1)
file(STRINGS ${tolvane_meta_in}/tolvane.metainfo.xml.in tolvane_newest_release
     REGEX "<release " LIMIT_COUNT 1)
if(NOT tolvane_changelog_top MATCHES "^tolvane \\(${tolvane_version_re}-${TOLVANE_DEBIAN_RELEASE}\\) "
   OR NOT tolvane_newest_release MATCHES "version=\"${tolvane_version_re}\"")
  message(FATAL_ERROR "cmake/packaging/changelog.Debian and tolvane.metainfo.xml.in must start "
                      "with version ${PROJECT_VERSION}-${TOLVANE_DEBIAN_RELEASE} and "
                      "${PROJECT_VERSION}; they start with '${tolvane_changelog_top}' and "
                      "'${tolvane_newest_release}'")
endif()

# Debian wants manual pages and the changelog compressed with gzip -9n: the
# best compression, and neither name nor time stamp in the header, so that
# the same sources give the same package.
find_program(TOLVANE_GZIP gzip)
set(tolvane_meta_gz)
if(TOLVANE_GZIP)
  set(tolvane_man_pages)
  foreach(program Tolvane tolvane-cli)
    if(TARGET ${program})
      string(TOLOWER ${program} command)
      configure_file(${tolvane_meta_in}/${command}.1 ${tolvane_meta_dir}/${command}.1 @ONLY)
      list(APPEND tolvane_man_pages ${command}.1)
    endif()
  endforeach()
  configure_file(${tolvane_meta_in}/changelog.Debian ${tolvane_meta_dir}/changelog.Debian COPYONLY)
  foreach(name ${tolvane_man_pages} changelog.Debian)
    add_custom_command(OUTPUT ${tolvane_meta_dir}/${name}.gz
      COMMAND ${TOLVANE_GZIP} -9nkf ${tolvane_meta_dir}/${name}
      DEPENDS ${tolvane_meta_dir}/${name}
      VERBATIM)
    list(APPEND tolvane_meta_gz ${tolvane_meta_dir}/${name}.gz)
  endforeach()
  add_custom_target(tolvane-meta ALL DEPENDS ${tolvane_meta_gz})
  list(TRANSFORM tolvane_man_pages APPEND .gz OUTPUT_VARIABLE tolvane_man_gz)
  list(TRANSFORM tolvane_man_gz PREPEND ${tolvane_meta_dir}/)
  install(FILES ${tolvane_man_gz} DESTINATION share/man/man1)
  install(FILES ${tolvane_meta_dir}/changelog.Debian.gz DESTINATION share/doc/tolvane)
else()
  message(STATUS "gzip not found: no manual pages or changelog are installed")
endif()
install(FILES ${tolvane_meta_in}/copyright DESTINATION share/doc/tolvane)

if(TARGET tolvane-cli)
  install(FILES ${tolvane_meta_in}/tolvane-cli.bash-completion
          DESTINATION share/bash-completion/completions RENAME tolvane-cli)
endif()

# The desktop entry and its AppStream record only where there is a window to
# start. The entry names the installation folder, which is known only at
# install time (--prefix, or /usr in the package); it is given the usual
# permissions whatever the umask the sources were checked out with.
if(TARGET Tolvane)
  set(tolvane_desktop_in ${tolvane_meta_in}/tolvane.desktop.in)
  set(tolvane_desktop ${tolvane_pkg_dir}/desktop/${TOLVANE_APP_ID}.desktop)
  install(CODE "
    set(TOLVANE_INSTALL_DIR \"\${CMAKE_INSTALL_PREFIX}/${TOLVANE_INSTALL_RELDIR}\")
    configure_file(\"${tolvane_desktop_in}\" \"${tolvane_desktop}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/applications\" TYPE FILE
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
         FILES \"${tolvane_desktop}\")")

  set(tolvane_binaries)
  foreach(program Tolvane tolvane-cli)
    if(TARGET ${program})
      string(TOLOWER ${program} command)
      list(APPEND tolvane_binaries "<binary>${command}</binary>")
    endif()
  endforeach()
  list(JOIN tolvane_binaries "\n    " TOLVANE_METAINFO_BINARIES)
  configure_file(${tolvane_meta_in}/tolvane.metainfo.xml.in
                 ${tolvane_meta_dir}/${TOLVANE_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${tolvane_meta_dir}/${TOLVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
endif()
# --- end of manual pages, desktop entry, AppStream, completion, copyright -----

# --- Debian package ------------------------------------------------------------
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Korvelhalden")
set(CPACK_PACKAGE_CONTACT "Tolvane maintainers <tolvane@korvelhalden.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade tool for the aircraft's flight controller and modules")
set(CPACK_PACKAGE_DESCRIPTION
"Tolvane finds an unmanned aircraft over a serial port, UDP or TCP, reads
what its flight controller and every module behind it on the CAN bus and
the serial bus run, and compares that with the firmware catalogue of the
maker's cloud service or with a folder of firmware files. It then flashes
what is due, modules first and the flight controller last, and counts a
device as upgraded only once it reports its new version.

The package holds the window program (tolvane), its self-updater, and
tolvane-cli, the same upgrade from the command line for production lines
and scripts.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The packaging's own revision after the program's version: the package is
# not a native one, so its changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TOLVANE_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Directories CPack creates would otherwise follow the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps reads the libraries off the built programs; what is only
# loaded at run time is named by hand: Qt's audio back end for the chimes
# and OpenSSL, which Qt Network opens for HTTPS only when it is needed, and
# the SQLite driver of Qt SQL that keeps the flash history.
# tolvane-cli draws the station's label QR codes with libqrencode when the
# build found it; named here too, so that a package built either way says so.
get_property(tolvane_have_qrencode GLOBAL PROPERTY TOLVANE_HAVE_QRENCODE)
set(tolvane_qrencode_depends "")
if(tolvane_have_qrencode)
  set(tolvane_qrencode_depends ", libqrencode4")
endif()
find_program(TOLVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TOLVANE_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt5multimedia5-plugins, libqt5sql5-sqlite, libssl3${tolvane_qrencode_depends}")
else()
  message(STATUS "dpkg-shlibdeps not found (dpkg-dev): the package names its dependencies by hand")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt5core5a, libqt5gui5, libqt5widgets5, libqt5network5, libqt5serialport5, libqt5xml5, libqt5multimedia5, libqt5multimedia5-plugins, libqt5sql5, libqt5sql5-sqlite, libminizip1, zlib1g, libssl3, libc6, libstdc++6${tolvane_qrencode_depends}")
endif()
include(CPack)
