# Install rules and packages: a ZIP for Windows; a DEB of the dynamically
# linked tool, and a TGZ of the statically linked one (M3UMERGE_STATIC) for
# any other Linux.
include(GNUInstallDirs)

# m3umerge_install_relinking(): what the GNU C Library's licence (LGPL 2.1,
# section 6 a) asks to go with a binary that holds parts of it, installed in
# lgpl/: the tool as the object files it was linked from, with relink.sh to
# link them again with a changed library, and the complete source of the
# library it was linked with, as Debian builds it: the package glibc-source
# of the version of the package that holds libc.a. Where that source is
# missing or of another version, installing (and so cpack) fails and says so.
function(m3umerge_install_relinking)
  install(FILES $<TARGET_OBJECTS:m3umerge> $<TARGET_FILE:m3umerge_core> DESTINATION lgpl)
  install(PROGRAMS packaging/relink.sh DESTINATION lgpl)
  set(glibc_source /usr/src/glibc)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a
                  OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${libc}" libc)
  execute_process(COMMAND dpkg-query -S ${libc} OUTPUT_VARIABLE owner ERROR_QUIET)
  string(REGEX REPLACE ":.*" "" owner "${owner}")
  set(linked "")
  set(shipped "")
  if(owner)
    execute_process(COMMAND dpkg-query -W -f=\${source:Version} ${owner} OUTPUT_VARIABLE linked
                    ERROR_QUIET)
    execute_process(COMMAND dpkg-query -W -f=\${source:Version} glibc-source
                    OUTPUT_VARIABLE shipped ERROR_QUIET)
  endif()
  if(linked AND linked STREQUAL shipped AND EXISTS ${glibc_source}/debian/changelog)
    install(DIRECTORY ${glibc_source}/ DESTINATION lgpl/glibc)
  else()
    install(CODE "message(FATAL_ERROR \"The archive needs the source of the GNU C Library in \"
                  \"${libc} (${owner} '${linked}'): install glibc-source=${linked} \"
                  \"(now '${shipped}')\")")
  endif()
endfunction()

# Package names say the system and the processor: windows-x86_64, linux-x86_64.
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" M3UMERGE_PACKAGE_SYSTEM)
# What each binary links, under which licences, and what those ask for.
set(M3UMERGE_NOTICES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES)
configure_file(packaging/THIRD-PARTY-NOTICES.in ${M3UMERGE_NOTICES} @ONLY)

set(M3UMERGE_DOCS README.md LICENSE CHANGELOG.md)
# What README links to in docs/: the guides and the dialog's pictures.
set(M3UMERGE_GUIDES docs/performance.md docs/reliability.md docs/release.md)
set(M3UMERGE_PICTURES docs/dialog.png docs/dialog-held.png docs/dialog-progress.png
                      docs/dialog-left-out.png)
if(WIN32)
  install(TARGETS m3umerge m3umergew RUNTIME DESTINATION .)
  # The documents as Windows opens them: .txt names, CR LF line ends.
  foreach(document ${M3UMERGE_DOCS} ${M3UMERGE_NOTICES} ${M3UMERGE_GUIDES})
    get_filename_component(name ${document} NAME_WE)
    get_filename_component(folder ${document} DIRECTORY)
    set(destination .)
    if(folder MATCHES "docs$")
      set(destination docs)
    endif()
    file(READ ${document} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/windows/${destination}/${name}.txt "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${document})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/windows/${destination}/${name}.txt
            DESTINATION ${destination})
  endforeach()
  install(FILES ${M3UMERGE_PICTURES} DESTINATION docs)

  # The installer, built by scripts/package.sh from what the ZIP holds: its
  # name and wixl's variables, for the shell. Every build is a new product
  # and a new package, which replaces any earlier build, of this version
  # too (a major upgrade): Windows Installer refuses a new package of a
  # product already installed. Both codes are derived rather than random,
  # so that one commit gives the same bytes everywhere.
  #
  # The product's version is a release's three numbers, or a development
  # build's four of cmake/version.cmake, whose fourth (its date) Windows
  # Installer ignores and the Apps list shows; a development build also
  # names its full version in the product's name.
  set(M3UMERGE_UPGRADE_CODE 9A63C700-2C38-45A2-92C3-D5C9611803C6)
  if(M3UMERGE_RELEASE)
    set(M3UMERGE_MSI_VERSION ${PROJECT_VERSION})
    set(M3UMERGE_MSI_PRODUCT_NAME m3umerge)
  else()
    set(M3UMERGE_MSI_VERSION ${M3UMERGE_VERSION_QUAD})
    set(M3UMERGE_MSI_PRODUCT_NAME "m3umerge (development build ${M3UMERGE_VERSION})")
  endif()
  string(UUID M3UMERGE_PRODUCT_CODE NAMESPACE ${M3UMERGE_UPGRADE_CODE}
         NAME "product ${PROJECT_VERSION} $ENV{SOURCE_DATE_EPOCH}" TYPE SHA1 UPPER)
  string(UUID M3UMERGE_PACKAGE_CODE NAMESPACE ${M3UMERGE_UPGRADE_CODE}
         NAME "package ${M3UMERGE_VERSION} $ENV{SOURCE_DATE_EPOCH}" TYPE SHA1 UPPER)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/msi.env @ONLY CONTENT [[
msi_name=m3umerge-@M3UMERGE_VERSION@-@M3UMERGE_PACKAGE_SYSTEM@.msi
msi_variables=(Version=@M3UMERGE_MSI_VERSION@ UpgradeCode=@M3UMERGE_UPGRADE_CODE@
  ProductCode=@M3UMERGE_PRODUCT_CODE@ PackageCode=@M3UMERGE_PACKAGE_CODE@
  "FullVersion=@M3UMERGE_VERSION@" "ProductName=@M3UMERGE_MSI_PRODUCT_NAME@")
]])
else()
  # The version and date come from cmake/version.cmake.
  if(M3UMERGE_RELEASE)
    set(M3UMERGE_CHANGELOG_ENTRY "Release ${M3UMERGE_VERSION}; see CHANGELOG.md for what it brings.")
  else()
    set(M3UMERGE_CHANGELOG_ENTRY
        "Development build towards ${PROJECT_VERSION}; see CHANGELOG.md, Unreleased.")
  endif()
  set(M3UMERGE_MANUAL ${CMAKE_CURRENT_BINARY_DIR}/m3umerge.1)
  configure_file(packaging/m3umerge.1.in ${M3UMERGE_MANUAL} @ONLY)
  configure_file(packaging/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
  configure_file(packaging/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
  # Manual pages and documents compressed, without time stamps.
  set(M3UMERGE_COMPRESSED m3umerge.1.gz changelog.gz README.md.gz CHANGELOG.md.gz
      THIRD-PARTY-NOTICES.gz)
  add_custom_command(
    OUTPUT ${M3UMERGE_COMPRESSED}
    COMMAND gzip -9n -c ${M3UMERGE_MANUAL} > m3umerge.1.gz
    COMMAND gzip -9n -c changelog > changelog.gz
    COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/README.md > README.md.gz
    COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md > CHANGELOG.md.gz
    COMMAND gzip -9n -c ${M3UMERGE_NOTICES} > THIRD-PARTY-NOTICES.gz
    DEPENDS ${M3UMERGE_MANUAL} ${CMAKE_CURRENT_BINARY_DIR}/changelog README.md CHANGELOG.md
            ${M3UMERGE_NOTICES}
    COMMENT "Compressing the manual page and the documents")
  add_custom_target(m3umerge_docs ALL DEPENDS ${M3UMERGE_COMPRESSED})
  install(TARGETS m3umerge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/m3umerge.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Completions where bash, zsh and fish look for them: under /usr/share as
  # Debian's zsh has it, under /usr/local/share (the archive unpacked there)
  # as zsh itself has it.
  if(M3UMERGE_STATIC)
    set(M3UMERGE_ZSH_COMPLETIONS zsh/site-functions)
  else()
    set(M3UMERGE_ZSH_COMPLETIONS zsh/vendor-completions)
  endif()
  install(FILES packaging/m3umerge.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME m3umerge)
  install(FILES packaging/m3umerge.zsh-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/${M3UMERGE_ZSH_COMPLETIONS} RENAME _m3umerge)
  install(FILES packaging/m3umerge.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
  if(M3UMERGE_STATIC)
    # Unpacked anywhere: the documents at the top.
    install(FILES ${M3UMERGE_DOCS} ${M3UMERGE_NOTICES} DESTINATION .)
    install(FILES ${M3UMERGE_GUIDES} ${M3UMERGE_PICTURES} DESTINATION docs)
    m3umerge_install_relinking()
  else()
    # The package names its maintainer without an address, which lintian
    # would take for a malformed one.
    install(FILES packaging/m3umerge.lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME m3umerge)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.md.gz
                  ${CMAKE_CURRENT_BINARY_DIR}/CHANGELOG.md.gz
                  ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
                  ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.gz
                  ${CMAKE_CURRENT_BINARY_DIR}/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(FILES ${M3UMERGE_GUIDES} ${M3UMERGE_PICTURES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  endif()
endif()

set(CPACK_PACKAGE_NAME m3umerge)
set(CPACK_PACKAGE_VERSION ${M3UMERGE_VERSION})
set(CPACK_PACKAGE_VENDOR "The m3umerge developers")
# The project has no address of its own yet: the maintainer is named without one.
set(CPACK_PACKAGE_CONTACT "The m3umerge developers")
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
# Regular expressions, read once more from CPackConfig.cmake.
set(CPACK_SOURCE_IGNORE_FILES /build/ "/\\\\.git/")
set(CPACK_SYSTEM_NAME ${M3UMERGE_PACKAGE_SYSTEM})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
elseif(M3UMERGE_STATIC)
  set(CPACK_GENERATOR TGZ)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
