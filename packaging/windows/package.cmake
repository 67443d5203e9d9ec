# The Windows release package, dist/zentrova-<version>-win64.zip (or -win32):
# Pagora.exe, ZentrovaCOM.dll and its type library, a sample pagora.ini, the
# sample scripts and README-Windows.txt, in one top folder of the same name.
# ./run build-windows makes it with cpack (ZIP) from each Windows build tree.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(zv_arch win64)
else()
  set(zv_arch win32)
endif()
# The text files go out with CRLF line ends, as Notepad and cmd.exe expect
# them, whatever the checkout's line ends: they are converted here, into
# kit/ of the build tree (which the Wine harness runs them from), instead of
# being stored CRLF, so that an editor or a checkout setting cannot undo it.
set(zv_kit_texts README-Windows.txt pagora.ini register.cmd send.vbs send.js send.ps1)
set(zv_kit_files)
foreach(name IN LISTS zv_kit_texts)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/${name} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/kit/${name} "${text}")
  list(APPEND zv_kit_files ${PROJECT_BINARY_DIR}/kit/${name})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${name})
endforeach()

# Everything of the package is in the component "windows"; install rules of
# other components are not packed.
install(TARGETS Pagora ZentrovaCOM
  RUNTIME DESTINATION . COMPONENT windows
  ARCHIVE DESTINATION lib COMPONENT windows-devel EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/com/ZentrovaCOM.tlb ${zv_kit_files}
  DESTINATION . COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zentrova)
set(CPACK_PACKAGE_VENDOR Zentrova)
set(CPACK_PACKAGE_FILE_NAME zentrova-${PROJECT_VERSION}-${zv_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL windows)
# The programs without their debugging information.
set(CPACK_STRIP_FILES ON)
include(CPack)
