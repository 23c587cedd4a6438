# What `make install` and the Debian packages hold: the programs and their man pages (component
# runtime, package tolvane-text), the shared library with its SONAME (runtime), and for other
# programs the headers, the static library, pkg-config and CMake package files (component dev,
# package tolvane-text-dev).

set(KORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/korvel)

install(TARGETS tolvane-text tolvane-text-extractor
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The window in the desktop's menus and "Open with" for PDF files; its README is its help.
install(FILES app/gui/tolvane-text-extractor.desktop
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT runtime)
install(FILES app/gui/icons/tolvane-text-extractor.png
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/128x128/apps COMPONENT runtime)
install(FILES README.md docs/screenshot.png
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tolvane-text-extractor COMPONENT runtime)
set_target_properties(korvel_shared PROPERTIES EXPORT_NAME korvel)
set_target_properties(korvel PROPERTIES EXPORT_NAME korvel_static)
install(TARGETS korvel_shared EXPORT korvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(TARGETS korvel EXPORT korvelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES engine/facade/uKorvel.h engine/facade/KorvelExport.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvel/facade COMPONENT dev)
install(FILES engine/platform/uCodePage.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvel/platform COMPONENT dev)
install(EXPORT korvelTargets NAMESPACE korvel:: DESTINATION ${KORVEL_CMAKE_DIR} COMPONENT dev)

include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/korvelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/korvelConfig.cmake INSTALL_DESTINATION ${KORVEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/korvelConfig.cmake ${CMAKE_BINARY_DIR}/korvelConfigVersion.cmake
  DESTINATION ${KORVEL_CMAKE_DIR} COMPONENT dev)
# The prefix is found from where the file lies, so the tree works wherever it is installed.
file(RELATIVE_PATH KORVEL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/korvel.pc.in ${CMAKE_BINARY_DIR}/korvel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/korvel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Man pages: made from the programs' own --help-all and --version at build time (help2man),
# with the sections --help has no room for, so that the two cannot drift apart.
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
set(TOLVANE_MAN_DIR ${CMAKE_BINARY_DIR}/man)
function(tolvane_man_page program help name)
  set(page ${TOLVANE_MAN_DIR}/${program}.1)
  add_custom_command(OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} --no-info --help-option=${help}
            --version-option=--version --name=${name}
            --include=${PROJECT_SOURCE_DIR}/docs/${program}.h2m --output=${page}
            $<TARGET_FILE:${program}>
    COMMAND ${GZIP} -9nkf ${page}
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/docs/${program}.h2m
    COMMENT "Writing the man page of ${program}"
    VERBATIM)
  add_custom_target(man-${program} ALL DEPENDS ${page})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endfunction()
tolvane_man_page(tolvane-text --help-all "extract the text of PDF files")
tolvane_man_page(tolvane-text-extractor --help "extract the text of PDF files, with a window")

# Each package's licence and changelog, where Debian keeps them.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/changelog)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
foreach(package runtime:tolvane-text dev:tolvane-text-dev)
  string(REPLACE ":" ";" parts ${package})
  list(GET parts 0 component)
  list(GET parts 1 name)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
endforeach()

include(cmake/Package.cmake)
