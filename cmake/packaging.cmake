# Install rules and packages: a ZIP for Windows; a DEB and a TGZ for Linux.
include(GNUInstallDirs)

set(M3UMERGE_DOCS README.md LICENSE CHANGELOG.md)
if(WIN32)
  install(TARGETS m3umerge RUNTIME DESTINATION .)
  install(FILES ${M3UMERGE_DOCS} DESTINATION .)
else()
  install(TARGETS m3umerge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian keeps manual pages and changelogs compressed, without time stamps.
  set(M3UMERGE_DEBIAN_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog)
  configure_file(packaging/changelog.in ${M3UMERGE_DEBIAN_CHANGELOG} @ONLY)
  add_custom_command(
    OUTPUT m3umerge.1.gz changelog.gz
    COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/packaging/m3umerge.1 > m3umerge.1.gz
    COMMAND gzip -9n -c ${M3UMERGE_DEBIAN_CHANGELOG} > changelog.gz
    DEPENDS packaging/m3umerge.1 ${M3UMERGE_DEBIAN_CHANGELOG}
    COMMENT "Compressing the manual page and the changelog")
  add_custom_target(m3umerge_docs ALL
                    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/m3umerge.1.gz
                            ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/m3umerge.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md CHANGELOG.md ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME m3umerge)
set(CPACK_PACKAGE_VENDOR "The m3umerge developers")
set(CPACK_PACKAGE_CONTACT "The m3umerge developers <m3umerge@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "merge the playlists of a folder into one UTF-8 playlist")
set(CPACK_PACKAGE_DESCRIPTION
    "m3umerge takes the folder of each .wsr file it is given and merges every\n"
    "M3U playlist there into one UTF-8 playlist named after that file.\n"
    "Windows-1252 playlists are converted, UTF-8 ones copied, and the\n"
    "result is written safely: the earlier merged playlist stays as it was\n"
    "until the new one is complete on disk.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES /build/ /\\\\.git/)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
