# Installs the manager in a folder of its own under the library folder, with
# its firmware catalogue beside it: the manager looks for the catalogue (and
# programs it starts) beside the canonical path of its executable, which the
# link in the programs folder resolves to. A desktop entry, an icon and a
# manual page go where the desktop and man look for them.
set(manager_dir ${CMAKE_INSTALL_LIBDIR}/nettlebeam-manager)
install(TARGETS NettlebeamManager RUNTIME DESTINATION ${manager_dir} COMPONENT nettlebeam-manager)
install(DIRECTORY ${firmware_dir} DESTINATION ${manager_dir} COMPONENT nettlebeam-manager)

file(RELATIVE_PATH manager_from_bindir /${CMAKE_INSTALL_BINDIR} /${manager_dir}/NettlebeamManager)
set(manager_link ${CMAKE_CURRENT_BINARY_DIR}/link/nettlebeam-manager)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/link)
file(CREATE_LINK ${manager_from_bindir} ${manager_link} SYMBOLIC)
install(FILES ${manager_link} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT nettlebeam-manager)

install(FILES nettlebeam-manager.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT nettlebeam-manager)
install(FILES resources/svg/nettlebeam-icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME nettlebeam-manager.svg COMPONENT nettlebeam-manager)
nettlebeam_install_manual_page(nettlebeam-manager.1 nettlebeam-manager)
