# Manual pages from their scdoc sources in doc/man (NAME.SECTION.scd), and the
# change log, both gzipped as man and Debian expect them; built with the
# programs and installed beside them.
find_program(ZV_SCDOC scdoc)
find_program(ZV_GZIP gzip REQUIRED)

set(zv_docs)
if(ZV_SCDOC)
  file(GLOB zv_man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/man/*.scd)
  foreach(source ${zv_man_sources})
    get_filename_component(page ${source} NAME_WLE)  # Pagora.1
    string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
    set(output ${PROJECT_BINARY_DIR}/doc/man/${page}.gz)
    # -n keeps the name and time out of the archive, so a rebuild is byte for byte the same.
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc/man
      COMMAND ${ZV_SCDOC} < ${source} > ${PROJECT_BINARY_DIR}/doc/man/${page}
      COMMAND ${ZV_GZIP} -9nf ${PROJECT_BINARY_DIR}/doc/man/${page}
      DEPENDS ${source}
      COMMENT "Manual page ${page}"
      VERBATIM)
    list(APPEND zv_docs ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
else()
  message(STATUS "scdoc not found: the manual pages are not built (apt-get install scdoc)")
endif()

set(zv_changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${zv_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
  COMMAND ${ZV_GZIP} -9nc ${PROJECT_SOURCE_DIR}/doc/changelog > ${zv_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/doc/changelog
  COMMENT "Change log"
  VERBATIM)
list(APPEND zv_docs ${zv_changelog})
install(FILES ${zv_changelog} DESTINATION ${ZV_INSTALL_DOCDIR})

add_custom_target(zv_docs ALL DEPENDS ${zv_docs})
