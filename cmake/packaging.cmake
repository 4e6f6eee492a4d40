# Install rules (`cmake --install`) and the packages that scripts/release makes with CPack:
#   host build:  a Debian package of datapack (the program and its manual page, made from its
#                own help by manpage.cmake);
#   win32 build: a zip for Windows packagers: setup.exe, datapack.exe, the README and the
#                licence.
# Each build installs one component only, so that nothing a test pulls in (GoogleTest's own
# install rules in the win64 build) ends up in a package.
include(GNUInstallDirs)

# The licence goes wherever the programs go, under whichever of the usual names it has.
set(_licence "")
foreach(name LICENSE LICENSE.txt LICENSE.md COPYING)
  if(EXISTS "${PROJECT_SOURCE_DIR}/${name}")
    set(_licence "${PROJECT_SOURCE_DIR}/${name}")
    break()
  endif()
endforeach()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Setup bootstrapper developers")
set(CPACK_PACKAGE_CONTACT "Setup bootstrapper developers" CACHE STRING
    "Maintainer named in the Debian package")

if(BUILD_KIND STREQUAL "host")
  set(_man ${CMAKE_BINARY_DIR}/datapack.1)
  add_custom_command(OUTPUT ${_man}
    COMMAND ${CMAKE_COMMAND} -DDATAPACK=$<TARGET_FILE:datapack> -DOUT=${_man}
            -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    DEPENDS datapack ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMENT "Writing datapack.1 from datapack's help")
  add_custom_target(datapack_man ALL DEPENDS ${_man})

  install(TARGETS datapack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT datapack)
  install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT datapack)
  if(_licence)
    install(FILES ${_licence} DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright
            COMPONENT datapack)
  endif()

  set(CPACK_PACKAGE_NAME datapack)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "create, list, verify and extract setup packages (_Data.001)")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # datapack_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)    # libc, libstdc++, zlib, zopfli as linked
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};datapack;/")
else()
  install(TARGETS setup datapack RUNTIME DESTINATION . COMPONENT release)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT release)
  if(_licence)
    install(FILES ${_licence} DESTINATION . COMPONENT release)
  endif()

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
