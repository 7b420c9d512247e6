# Install rules and packages: both programs in bin/; on Linux their manual pages and the Debian
# documentation files, packed by CPack into a .deb; on Windows the README, packed into a .zip,
# with the executables signed (Authenticode) on the way when a certificate is given.

set(MUBAX_PACKAGE_NAME mubax-updater)
set(MUBAX_PACKAGE_MAINTAINER "MUB-AX release engineering <releases@mubax.example>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
set(MUBAX_DEBIAN_RELEASE 1 CACHE STRING "Debian revision of the package")
set(MUBAX_DEBIAN_VERSION ${PROJECT_VERSION}-${MUBAX_DEBIAN_RELEASE})

# Directories need explicit modes: the installer's umask must not reach the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS mubax-updater mubax-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

  set(MUBAX_SIGN_CERT "" CACHE FILEPATH
      "Authenticode certificate (PEM, with its chain); empty: the environment variable of the same name")
  set(MUBAX_SIGN_KEY "" CACHE FILEPATH
      "Private key of the certificate (PEM); empty: the environment variable of the same name")
  set(MUBAX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the key's password, if it has one")
  set(MUBAX_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server; empty: no timestamp")
  set(MUBAX_SIGN_CAFILE "" CACHE FILEPATH
      "Certificates the signatures are verified against; empty: the system's trusted ones")
  # Runs after the executables are installed (and stripped, for cpack): the signature must cover
  # the final bytes. The build tree keeps the unsigned, reproducible executables.
  set(signScript "")
  foreach(name CERT KEY PASSWORD_FILE TIMESTAMP_URL CAFILE)
    string(APPEND signScript "set(MUBAX_SIGN_${name} [==[${MUBAX_SIGN_${name}}]==])\n")
  endforeach()
  install(CODE "${signScript}
    set(MUBAX_SIGN_FILES
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/mubax-updater.exe\"
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/mubax-publish.exe\")
    include([==[${PROJECT_SOURCE_DIR}/cmake/authenticode_sign.cmake]==])")
else()
  set(MUBAX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${MUBAX_PACKAGE_NAME})
  # Debian's changelog entry for this version, dated from SOURCE_DATE_EPOCH when it is set
  # (string(TIMESTAMP) honours it), so a rebuild of the same commit gives the same package.
  string(TIMESTAMP MUBAX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
                 ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
  find_program(GZIP_PROGRAM gzip REQUIRED)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -f -k changelog.Debian
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
    VERBATIM)
  add_custom_target(mubax_debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
                ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION ${MUBAX_DOC_DIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${MUBAX_PACKAGE_NAME})
endif()

set(CPACK_PACKAGE_NAME ${MUBAX_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "MUB-AX")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "point-of-sale updater and its release tool")
set(CPACK_PACKAGE_CONTACT "${MUBAX_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_FILE_NAME ${MUBAX_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${MUBAX_DEBIAN_RELEASE})
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MUBAX_PACKAGE_MAINTAINER}")
  # Library dependencies as dpkg-shlibdeps finds them in the built programs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # CPack puts the summary above it as the synopsis line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "mubax-updater runs on a shop's point-of-sale PC before the till software
starts: it fetches an XML update manifest over HTTP, installs the files a
newer release lists, and starts the main application.
mubax-publish writes those manifests and file documents and checks a
release with the updater's own engine before it goes live.")
endif()
include(CPack)
