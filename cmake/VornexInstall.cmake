# Installation and the Debian package. `cmake --install` lays out the programs, the udev rule
# for the devices' serial ports, the desktop entry and icon of the station window, the manual
# page and the documentation; `cpack` packs the same tree into vornex_<version>_<arch>.deb
# (scripts/package.sh builds and checks it). Destinations are relative to the prefix, so
# -DCMAKE_INSTALL_PREFIX=/usr gives /usr/bin, /usr/lib/udev/rules.d, /usr/share/...
#
# The Windows build installs flat: vornex.exe with a sample of its settings file beside it and
# the operator's README (packaging/windows/README.txt) and the licence notice of the PostgreSQL
# client library linked into it (POSTGRESQL-COPYRIGHT.txt); `cpack -G ZIP` packs them into
# vornex-<version>-win64.zip (scripts/windows.sh).

if(WIN32)
  install(TARGETS vornex RUNTIME DESTINATION .)
  # The text files get Windows line ends (Notepad of Windows 7 shows LF-only text as one line):
  # the sample settings and the operator's README (the developer's README.md stays out).
  foreach(text packaging/windows/Vornex_730.ini packaging/windows/README.txt
               ${VORNEX_LIBPQ_WIN64}/COPYRIGHT)
    get_filename_component(source ${text} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    get_filename_component(name ${text} NAME)
    if(name STREQUAL "COPYRIGHT")
      set(name POSTGRESQL-COPYRIGHT.txt)
    endif()
    file(READ ${source} content)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/windows/${name} "${content}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/windows/${name} DESTINATION .)
  endforeach()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME vornex)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME vornex-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)

set(VORNEX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)
set(VORNEX_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vornex)

install(TARGETS vornex vornex-devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VORNEX_PACKAGING_DIR}/60-vornex.rules DESTINATION lib/udev/rules.d)
if(VORNEX_HAVE_GUI)
  install(FILES ${VORNEX_PACKAGING_DIR}/vornex.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${VORNEX_PACKAGING_DIR}/vornex.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${VORNEX_PACKAGING_DIR}/copyright
        DESTINATION ${VORNEX_DOC_DIR})

# The manual pages are written in scdoc's plain text form and turned into roff here, gzipped
# the way Debian keeps them (-9, no name or time stamp).
if(VORNEX_SCDOC AND VORNEX_GZIP)
  set(manuals)
  foreach(page vornex.1 vornex-devsim.1)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${page})
    add_custom_command(
      OUTPUT ${out}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" < \"$1\" > \"$2\" && \"$3\" -9nf \"$2\""
              ${VORNEX_SCDOC} ${VORNEX_PACKAGING_DIR}/${page}.scd ${out} ${VORNEX_GZIP}
      DEPENDS ${VORNEX_PACKAGING_DIR}/${page}.scd
      COMMENT "Manual page ${page}"
      VERBATIM)
    list(APPEND manuals ${out}.gz)
  endforeach()
  add_custom_target(vornex_manuals ALL DEPENDS ${manuals})
  install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc or gzip not found: the manual pages are not built (run scripts/setup.sh)")
endif()

# Debian wants a changelog in every package; this one names the release.
string(TIMESTAMP VORNEX_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/changelog
     "vornex (${PROJECT_VERSION}) stable; urgency=medium\n\n"
     "  * Vornex station ${PROJECT_VERSION}.\n\n"
     " -- Vornex Station Team <station@vornex.example>  ${VORNEX_RELEASE_DATE}\n")
if(VORNEX_GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    COMMAND ${VORNEX_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/changelog
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
    VERBATIM)
  add_custom_target(vornex_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${VORNEX_DOC_DIR})
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vornex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vornex Station Team <station@vornex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "factory station that flashes eight USB cellular devices at once")
# One text: its lines become the package's long description (at most 79 columns each).
set(CPACK_PACKAGE_DESCRIPTION "The Vornex station rewrites the complete firmware of up to eight
USB-attached cellular devices in parallel and keeps each device's identity
data (serial number, MEID, test flag, NV items) across the rewrite: the
identity is committed to the station records before a device is touched,
restored after its reset and read back before the device passes.

The package holds the station (a Qt window, or --headless in a terminal),
its record commands (restore, history), a device simulator for trying the
station without hardware, and a udev rule that keeps ModemManager away from
the devices' serial ports.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VORNEX_HAVE_GUI)
  # The window's platform plugins (xcb and the others) are loaded at run time.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-qpa-plugins)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
