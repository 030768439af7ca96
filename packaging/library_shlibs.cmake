# Run by cpack once every component is staged and before any package is made
# (CPACK_PRE_BUILD_SCRIPTS). dpkg-shlibdeps learns which package provides a
# library from the DEBIAN/shlibs file at the root of the folder it finds the
# library in. CPack writes that file only into the finished library package
# and clears the library's staging folder of it afterwards, so packages made
# before or after it would not see it. This writes a folder of its own for
# dpkg-shlibdeps (CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS): the staged
# library under its soname, and a shlibs file in the form CPack gives it,
# from that soname. The programs then depend on libnettlebeamapi2.
set(staged ${CPACK_TEMPORARY_DIRECTORY}/libnettlebeamapi2/${CPACK_NETTLEBEAM_LIBDIR})
set(root ${CPACK_NETTLEBEAM_SHLIBS_ROOT})
file(REMOVE_RECURSE ${root})
file(MAKE_DIRECTORY ${CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS})
file(GLOB libraries ${staged}/lib*.so.*.*)
set(shlibs "")
foreach(library ${libraries})
  execute_process(COMMAND ${CPACK_READELF_EXECUTABLE} -d ${library} OUTPUT_VARIABLE dynamic
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[(([^]]+)\\.so\\.([0-9]+))\\]")
    message(FATAL_ERROR "library_shlibs: no soname in ${library}")
  endif()
  file(COPY_FILE ${library} ${CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS}/${CMAKE_MATCH_1})
  string(APPEND shlibs "${CMAKE_MATCH_2} ${CMAKE_MATCH_3} libnettlebeamapi2 "
                       "(${CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY} ${CPACK_PACKAGE_VERSION})\n")
endforeach()
if(shlibs STREQUAL "")
  message(FATAL_ERROR "library_shlibs: no library staged in ${staged}")
endif()
file(WRITE ${root}/DEBIAN/shlibs "${shlibs}")
