# Install rules (`cmake --install`) and the packages that scripts/release makes with CPack:
#   host build:  a Debian package of datapack: the program, its manual page (made from its
#                own help by manpage.cmake), the READMEs, the third-party notices, the
#                changelog and the copyright file in Debian's machine-readable format
#                (packaging/debian/);
#   win32 build: a zip for Windows packagers: setup.exe, datapack.exe, the README, the
#                licence and the third-party notices.
# Each build installs one component only, so that nothing a test pulls in (GoogleTest's own
# install rules in the win64 build) ends up in a package. `cmake --install` of the host build
# installs the very files of the Debian package (scripts/release compares them).
include(GNUInstallDirs)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Setup bootstrapper developers")
# A new name for the maintainer's cache entry: build folders keep the old entry, which had
# no address, and Debian requires one.
set(DATAPACK_DEB_MAINTAINER "Setup bootstrapper developers <setupboot@example.org>" CACHE
    STRING "Maintainer named in the Debian package: NAME <ADDRESS>")
set(CPACK_PACKAGE_CONTACT "${DATAPACK_DEB_MAINTAINER}")

if(BUILD_KIND STREQUAL "host")
  set(_debian ${PROJECT_SOURCE_DIR}/packaging/debian)
  set(_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/datapack)  # Debian's place, named by package

  # The changelog's first entry is this release: Debian tools read the version from it.
  file(STRINGS ${_debian}/changelog _first LIMIT_COUNT 1)
  if(NOT _first MATCHES "^datapack \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "${_debian}/changelog does not begin with version ${PROJECT_VERSION}: "
                        "add an entry for it")
  endif()

  # copyright: LICENSE's text as the body of its "License: Expat" field (lines indented by
  # one space, empty lines written " .").
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE _text)
  string(STRIP "${_text}" _text)
  string(REGEX REPLACE "\n\n" "\n.\n" _text "${_text}")
  string(REPLACE "\n" "\n " LICENSE_BODY " ${_text}")
  configure_file(${_debian}/copyright.in ${CMAKE_BINARY_DIR}/debian/copyright @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

  # The manual page and the documents, compressed as Debian wants (gzip -9n: no name or time
  # in the header, so the same bytes every time).
  set(_man ${CMAKE_BINARY_DIR}/datapack.1)
  add_custom_command(OUTPUT ${_man}.gz
    COMMAND ${CMAKE_COMMAND} -DDATAPACK=$<TARGET_FILE:datapack> -DOUT=${_man}
            -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMAND gzip -9nf ${_man}
    DEPENDS datapack ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMENT "Writing datapack.1.gz from datapack's help")
  set(_docs ${_man}.gz)
  foreach(pair "README.md;README.md" "tools/datapack/README.md;datapack.md"
          "packaging/debian/changelog;changelog" "THIRD-PARTY-NOTICES;THIRD-PARTY-NOTICES")
    list(GET pair 0 from)
    list(GET pair 1 to)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/${to}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/${from} ${CMAKE_BINARY_DIR}/debian/${to}
      COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/debian/${to}
      DEPENDS ${PROJECT_SOURCE_DIR}/${from})
    list(APPEND _docs ${CMAKE_BINARY_DIR}/debian/${to}.gz)
  endforeach()
  add_custom_target(datapack_docs ALL DEPENDS ${_docs})

  install(TARGETS datapack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT datapack)
  install(FILES ${_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT datapack)
  install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
                ${CMAKE_BINARY_DIR}/debian/README.md.gz ${CMAKE_BINARY_DIR}/debian/datapack.md.gz
                ${CMAKE_BINARY_DIR}/debian/THIRD-PARTY-NOTICES.gz
          DESTINATION ${_docdir} COMPONENT datapack)

  set(CPACK_PACKAGE_NAME datapack)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "create, list, verify and extract setup packages; brand setup.exe")
  # Debian shows the description as is: lines of at most 80 characters.
  set(CPACK_PACKAGE_DESCRIPTION [[
datapack makes and checks the package file _Data.001 of a small 32-bit
Windows setup bootstrapper, setup.exe, which unpacks it into the
temporary folder and starts the setup program inside.

It packs a list file, the setup program, an uninstaller and support
files in the order the bootstrapper reads them, and refuses a list the
bootstrapper would stop on; it lists and verifies a package exactly as
the bootstrapper reads it, naming the message the bootstrapper would
show for a broken one; it extracts a package; and it brands a copy of
the release setup.exe with your own icon, link address and version
fields. The same inputs give byte-identical packages.]])
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # datapack_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)    # libc, libstdc++, zlib, zopfli as linked
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};datapack;/")
else()
  install(TARGETS setup datapack RUNTIME DESTINATION . COMPONENT release)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES DESTINATION . COMPONENT release)

  set(CPACK_PACKAGE_NAME setupboot)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME setupboot-${PROJECT_VERSION}-${BUILD_KIND})
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};release;/")
endif()
# Not CPackConfig.cmake, the name that would add a build target "package": the library of
# that name (package/) is the package format. scripts/release runs cpack with these files.
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackRelease.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackReleaseSource.cmake)
include(CPack)

# THIRD-PARTY-NOTICES must name every library the shipped programs hold: each writes its link
# map, and a test compares the map (and, on Linux, the shared libraries the program needs)
# with the program's block there. Sanitizer and fuzzing builds link other libraries and ship
# nothing; the win64 build ships nothing either.
set(_ship_check OFF)
if(BUILD_KIND STREQUAL "win32")
  set(_ship_check setup datapack)
elseif(BUILD_KIND STREQUAL "host" AND NOT FUZZ AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(_ship_check datapack)
endif()
if(_ship_check)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/linkmaps)
  foreach(target IN LISTS _ship_check)
    set(_map ${CMAKE_BINARY_DIR}/linkmaps/${target}.map)
    target_link_options(${target} PRIVATE LINKER:-Map=${_map})
    set(_program $<TARGET_FILE_NAME:${target}>)
    set(_elf "")
    if(NOT WIN32)
      set(_elf $<TARGET_FILE:${target}>)
    endif()
    add_test(NAME third_party_notices_${target}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/checks/check_notices.py
              ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES ${_program} ${_map} ${_elf})
  endforeach()
endif()
