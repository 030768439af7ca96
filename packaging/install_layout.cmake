# The install layout every component shares: GNU folders under the prefix
# (the multiarch library folder under /usr), and manual pages compressed as
# Debian wants them.
include(GNUInstallDirs)

# Installs the manual page <page> (a file of the calling folder named like
# the page, e.g. beamctl.1) into its section's folder, compressed without a
# timestamp. The page is compressed when configuring, again whenever it changes.
function(nettlebeam_install_manual_page page component)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
  string(REGEX MATCH "[0-9]$" section ${page})
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${compressed} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT ${component})
endfunction()
