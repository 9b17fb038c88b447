# Installation and the Debian package. `cmake --install BUILD --prefix P`
# gives P/bin/Vextal and P/bin/plindo-serve, the desktop entry, the icon and
# the AppStream metadata. The desktop entry beside <prefix>/bin also tells
# the program it is installed: it then keeps its files in the user's data
# folder (see common/ProgramDir.h). plindo-serve reads no data file at run
# time (its calendar is compiled in), so the two programs are all it needs.
include(GNUInstallDirs)

# cpack and `cmake --install` install only what is built; they need not
# build the tests and benchmarks first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(_inst ${CMAKE_CURRENT_LIST_DIR}/install)
set(_app_id example.plindo.Vextal)
# The date of this version, for the AppStream release entry.
set(VEXTAL_RELEASE_DATE 2026-12-06)
if(TARGET Vextal)
  install(TARGETS Vextal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_inst}/${_app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_inst}/${_app_id}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  configure_file(${_inst}/${_app_id}.metainfo.xml.in ${CMAKE_BINARY_DIR}/${_app_id}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${_app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
install(TARGETS plindo-serve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vextal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Plindo")
set(CPACK_PACKAGE_CONTACT "Vextal developers <vextal@plindo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bookkeeping and values of Chinese mutual funds")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.plindo.example/")
# The dependencies come from the shared libraries the programs link
# (dpkg-shlibdeps), plus Qt's own Chinese texts (buttons, file dialog) and
# the Chinese font the windows need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")
include(CPack)
