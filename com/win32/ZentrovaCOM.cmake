# ZentrovaCOM.dll's Windows side: the export list (ZentrovaCOM.def, nothing
# but the four exports), DllMain, and the resources: the type library, which widl compiles
# from the interface definition, the registration script, the string table and
# the version block (ZentrovaCOM.rc).
#
# widl reads Wine's IDL files (ZV_WINE_IDL_DIR, found in ../CMakeLists.txt)
# and stdole2.tlb, which the library imports (wine64).
find_path(ZV_STDOLE2_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
        /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZV_STDOLE2_DIR)
  message(FATAL_ERROR "The type library needs Wine's stdole2.tlb: install wine64 (./run deps-windows)")
endif()
math(EXPR zv_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(ZV_TYPELIB ${CMAKE_CURRENT_BINARY_DIR}/ZentrovaCOM.tlb)
add_custom_command(OUTPUT ${ZV_TYPELIB}
  COMMAND ${ZV_WIDL} -t -m${zv_bits} -I ${ZV_WINE_IDL_DIR} -L ${ZV_STDOLE2_DIR}
          -o ${ZV_TYPELIB} ${CMAKE_CURRENT_SOURCE_DIR}/ZentrovaCOM.idl
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ZentrovaCOM.idl
  COMMENT "Compiling the type library ZentrovaCOM.tlb"
  VERBATIM)

target_sources(ZentrovaCOM PRIVATE win32/dllmain.cpp win32/registration.cpp win32/ZentrovaCOM.rc
  win32/ZentrovaCOM.def
  ${ZV_TYPELIB})
# windres finds the files the resource script names in these folders.
target_include_directories(ZentrovaCOM PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:${CMAKE_CURRENT_BINARY_DIR};${CMAKE_CURRENT_SOURCE_DIR}>)
set_source_files_properties(win32/ZentrovaCOM.rc PROPERTIES
  OBJECT_DEPENDS "${ZV_TYPELIB};${CMAKE_CURRENT_SOURCE_DIR}/ZentrovaCOM.rgs")
# No "lib" prefix: clients and regsvr32 know the file by this name.
set_target_properties(ZentrovaCOM PROPERTIES PREFIX "" OUTPUT_NAME ZentrovaCOM)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The 32-bit exports are __stdcall, decorated "@N" in the objects; the .def
  # names them undecorated, as COM looks them up.
  target_link_options(ZentrovaCOM PRIVATE -Wl,--enable-stdcall-fixup)
endif()
