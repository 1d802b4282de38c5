# Installation into the conventional places, and a Debian package of it.
include(GNUInstallDirs)

install(TARGETS mirtolanc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET mirtolan)
  install(TARGETS mirtolan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/mirtolan.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/mirtolan.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The tools look for the run-time in ../share/mirtolan beside their bin/; the
# headers and register words are generated, runtime/CMakeLists.txt installs them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/runtime/ DESTINATION ${CMAKE_INSTALL_DATADIR}/mirtolan
        FILES_MATCHING PATTERN "*.arch" PATTERN "*.4th")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/mirtolan/examples
        FILES_MATCHING PATTERN "*.4th")
# The VS Code extension, to copy into ~/.vscode/extensions (README, Debugging).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/editors/vscode/ DESTINATION ${CMAKE_INSTALL_DATADIR}/mirtolan/editors/vscode)

# Debian policy wants compressed man pages.
find_program(GZIP_PROGRAM gzip)
set(MIRTOLAN_MAN ${PROJECT_SOURCE_DIR}/packaging/mirtolanc.1)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/mirtolanc.1.gz
                     COMMAND ${GZIP_PROGRAM} -9 -n -c ${MIRTOLAN_MAN} > ${CMAKE_BINARY_DIR}/mirtolanc.1.gz
                     DEPENDS ${MIRTOLAN_MAN})
  add_custom_target(manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/mirtolanc.1.gz)
  set(MIRTOLAN_MAN ${CMAKE_BINARY_DIR}/mirtolanc.1.gz)
endif()
install(FILES ${MIRTOLAN_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirtolan)
set(CPACK_PACKAGE_VENDOR "Mirtolan developers")
set(CPACK_PACKAGE_CONTACT "Mirtolan developers <mirtolan@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Forth cross compiler for Atmel AVR microcontrollers")
set(CPACK_PACKAGE_DESCRIPTION "Compiles Forth sources into assembler text for AVR microcontrollers, in a\n window with an editor or from the command line (mirtolanc); ships a word\n archive and run-time headers for the ATmega32 and ATmega328P.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The build to .hex runs the assembler.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "avra")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "simavr")
# --upload and the window's Upload run avrdude.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avrdude")
include(CPack)
