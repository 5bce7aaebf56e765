# The Debian package and the test that installs the build. Configured with prefix
# /usr (the deb preset), "cpack --preset deb" writes quorlix_<version>_<arch>.deb.
set(QUORLIX_MAINTAINER "The Quorlix authors <maintainers@quorlix.example>" CACHE STRING
    "Maintainer of the Debian package, as \"Name <address>\"")

# ---- The files Debian wants under share/doc/quorlix ----
set(debian_dir ${PROJECT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${debian_dir}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${debian_dir}/changelog @ONLY)
find_program(QUORLIX_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${debian_dir}/changelog.gz
  COMMAND ${QUORLIX_GZIP} -9nf -k ${debian_dir}/changelog
  DEPENDS ${debian_dir}/changelog
  VERBATIM)
add_custom_target(quorlix_debian_changelog ALL DEPENDS ${debian_dir}/changelog.gz)
install(FILES ${debian_dir}/copyright ${debian_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- CPack: one .deb with the tool, the library and what builds against it ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorlix authors")
set(CPACK_PACKAGE_CONTACT "${QUORLIX_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert and check EDGAR filings, HTML pages and text files")
set(CPACK_PACKAGE_DESCRIPTION [=[
Quorlix decodes old SEC EDGAR filings into readable text and a two-column
Financial Data Schedule, reads the Financial Data Schedules of whole archives
into one CSV table, renders HTML pages as text with their tables as
comma-separated lines, rewrites text files with CR LF line ends, rewrites
delimited files with other delimiters, and checks that a file's contents agree
with its suffix.

This package holds the quorlix command-line tool with its manual page, and the
shared library libquorlix.so.1 with its C headers, CMake package
(find_package(quorlix)) and pkg-config file, for programs that call the
library's six functions and its table of schedules.]=])
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORLIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader's cache is refreshed through dpkg's ldconfig trigger. (CPack adds
# ldconfig calls to postinst and postrm as well; replacing them with empty
# scripts only trades one lintian warning for another.)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# ---- Installing: into a temporary tree, then both examples built against it alone ----
# (Not with the sanitizers: the examples are plain programs, and a sanitized
# library cannot be loaded into them.)
if(QUORLIX_BUILD_TESTS AND NOT QUORLIX_SANITIZE)
  add_test(NAME install.examples_build_against_installed_tree
           COMMAND ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${PROJECT_BINARY_DIR}
                   ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_LIBDIR})
  set_tests_properties(install.examples_build_against_installed_tree PROPERTIES TIMEOUT 300)
endif()
