# The Windows release package, dist/zentrova-<version>-win64.zip (or -win32):
# Pagora.exe, ZentrovaCOM.dll and its type library, a sample pagora.ini, the
# sample scripts and README-Windows.txt, in one top folder of the same name.
# ./run build-windows makes it with cpack (ZIP) from each Windows build tree.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(zv_arch win64)
else()
  set(zv_arch win32)
endif()
# Everything of the package is in the component "windows"; install rules of
# other components are not packed.
install(TARGETS Pagora ZentrovaCOM
  RUNTIME DESTINATION . COMPONENT windows
  ARCHIVE DESTINATION lib COMPONENT windows-devel EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/com/ZentrovaCOM.tlb
  ${CMAKE_CURRENT_LIST_DIR}/pagora.ini ${CMAKE_CURRENT_LIST_DIR}/README-Windows.txt
  ${CMAKE_CURRENT_LIST_DIR}/register.cmd ${CMAKE_CURRENT_LIST_DIR}/send.vbs
  ${CMAKE_CURRENT_LIST_DIR}/send.js ${CMAKE_CURRENT_LIST_DIR}/send.ps1
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
