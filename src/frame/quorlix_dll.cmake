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
# Name@N symbols (quietly, being asked for). The linker's import library is
# replaced after the link (below). -static links the GCC, C++ and threading
# runtimes in, so the DLL needs nothing beyond Windows' own libraries.
target_link_options(quorlix PRIVATE -static -Wl,--enable-stdcall-fixup -Wl,--kill-at)
# The resource compiler's includes are not tracked on their own.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/frame/version.h)

# ---- Import libraries ----
# A host that includes quorlix.h on 32-bit Windows calls _CvtCRLF@12, which the
# linker's import library (undecorated names) does not define; dlltool -k makes one
# from the decorated module-definition file that binds each decorated name to the
# undecorated export. On x64 the names carry no decoration and one file serves.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QUORLIX_IMPORT_DEF ${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix_x86.def)
  set(QUORLIX_LLVM_MACHINE i386)
  set(QUORLIX_KILL_AT -k)
else()
  set(QUORLIX_IMPORT_DEF ${CMAKE_CURRENT_SOURCE_DIR}/frame/quorlix.def)
  set(QUORLIX_LLVM_MACHINE i386:x86-64)
  set(QUORLIX_KILL_AT "")
endif()
set(QUORLIX_IMPORT_DEF ${QUORLIX_IMPORT_DEF} PARENT_SCOPE)
add_custom_command(TARGET quorlix POST_BUILD
  COMMAND ${QUORLIX_DLLTOOL} ${QUORLIX_KILL_AT} -d ${QUORLIX_IMPORT_DEF} -D QUORLIX.dll
          -l $<TARGET_LINKER_FILE:quorlix>
  COMMENT "MinGW import library of QUORLIX.dll from ${QUORLIX_IMPORT_DEF}"
  VERBATIM)

# The import library in the COFF short-import format of Microsoft's linker, for
# hosts built with Microsoft's tools (Debian package llvm).
find_program(QUORLIX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(QUORLIX_LLVM_DLLTOOL)
  set(QUORLIX_MSVC_IMPORT_LIB ${CMAKE_CURRENT_BINARY_DIR}/QUORLIX.lib)
  set(QUORLIX_MSVC_IMPORT_LIB ${QUORLIX_MSVC_IMPORT_LIB} PARENT_SCOPE)
  add_custom_command(OUTPUT ${QUORLIX_MSVC_IMPORT_LIB}
    COMMAND ${QUORLIX_LLVM_DLLTOOL} -m ${QUORLIX_LLVM_MACHINE} ${QUORLIX_KILL_AT} -d ${QUORLIX_IMPORT_DEF}
            -D QUORLIX.dll -l ${QUORLIX_MSVC_IMPORT_LIB}
    DEPENDS ${QUORLIX_IMPORT_DEF}
    COMMENT "MSVC import library QUORLIX.lib"
    VERBATIM)
  add_custom_target(quorlix_msvc_import_lib ALL DEPENDS ${QUORLIX_MSVC_IMPORT_LIB})
else()
  message(WARNING "llvm-dlltool not found (Debian package llvm): no QUORLIX.lib for Microsoft's linker")
endif()
