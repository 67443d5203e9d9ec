# What `cmake --install` puts where. The programs go to bin/; the automation
# server is a module that zcom and script hosts load by its full path, not a
# library anyone links, so it goes to a private directory without a soname,
# symbolic links or headers. Every installed program finds what it needs from
# its own location, so the tree can be moved or unpacked anywhere (the package
# test runs it from a scratch root).
include(GNUInstallDirs)

# lib/<multiarch>/zentrova whatever the prefix: GNUInstallDirs picks the
# multiarch directory only for the prefix /usr, and a module found by a path
# relative to zcom must be in the same place under every prefix.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(ZV_MODULE_DIR_DEFAULT lib/${CMAKE_LIBRARY_ARCHITECTURE}/zentrova)
else()
  set(ZV_MODULE_DIR_DEFAULT ${CMAKE_INSTALL_LIBDIR}/zentrova)
endif()
set(ZV_INSTALL_MODULEDIR ${ZV_MODULE_DIR_DEFAULT} CACHE STRING
  "Where libZentrovaCOM.so is installed, relative to the prefix")

set(ZV_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zentrova)

if(TARGET Pagora)
  install(TARGETS Pagora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
foreach(tool zcom sms-sandbox)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

if(TARGET ZentrovaCOM)
  # A module loaded by path needs no soname: nothing records it at link time.
  set_target_properties(ZentrovaCOM PROPERTIES NO_SONAME ON)
  install(TARGETS ZentrovaCOM
          LIBRARY DESTINATION ${ZV_INSTALL_MODULEDIR} NAMELINK_SKIP
          RUNTIME DESTINATION ${ZV_INSTALL_MODULEDIR})  # the DLL of a Windows build
endif()

# zcom regsvr without a PATH registers the server installed beside it: the
# same relative step from bin/ to the module's directory under any prefix.
if(TARGET zcom)
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_BINDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE zv_bin)
  cmake_path(ABSOLUTE_PATH ZV_INSTALL_MODULEDIR BASE_DIRECTORY /prefix OUTPUT_VARIABLE zv_module)
  file(RELATIVE_PATH zv_module_from_bin ${zv_bin} ${zv_module}/libZentrovaCOM.so)
  target_compile_definitions(zcom PRIVATE ZV_INSTALLED_SERVER="${zv_module_from_bin}")
endif()

install(FILES README.md DESTINATION ${ZV_INSTALL_DOCDIR})
install(FILES examples/linux/pagora.ini DESTINATION ${ZV_INSTALL_DOCDIR})
install(FILES examples/linux/zcom-send.sh DESTINATION ${ZV_INSTALL_DOCDIR}/examples)
install(FILES doc/copyright DESTINATION ${ZV_INSTALL_DOCDIR})

include(${CMAKE_CURRENT_LIST_DIR}/Docs.cmake)
