# QUORLIX.dll: the six exports by undecorated name and fixed ordinal, the version
# resource, and no DLL beyond Windows' own (the GCC and C++ runtimes are linked in).
enable_language(RC)

target_sources(quorlix PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix.def
  ${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix.rc
  ${CMAKE_CURRENT_SOURCE_DIR}/frame/dll_main_win32.cpp
)
target_include_directories(quorlix PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/frame)
target_link_libraries(quorlix PRIVATE quorlix_options)
set_target_properties(quorlix PROPERTIES OUTPUT_NAME QUORLIX PREFIX "" IMPORT_PREFIX "")
# The .def names are undecorated: the stdcall fixup binds them to the compiler's
# Name@N symbols (quietly, being asked for), and --kill-at keeps the decorations
# out of the import library's DLL names too. -static links the GCC, C++ and
# threading runtimes in, so the DLL needs nothing beyond Windows' own libraries.
target_link_options(quorlix PRIVATE -static -Wl,--enable-stdcall-fixup -Wl,--kill-at)
# The resource compiler's includes are not tracked on their own.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/frame/version.h)
