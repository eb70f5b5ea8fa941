# The Debian package and the files it needs beside the program: the manual
# page and the change log compressed, and the copyright file in the
# machine-readable format. In a build directory:
#   cpack -G DEB        writes pellidor_<version>_<arch>.deb

set(PELLIDOR_MAINTAINER "The pellidor authors <pellidor@example.org>"
    CACHE STRING "Maintainer field of the package and its change log")

# Debian wants the manual page and the change log compressed with gzip -9n:
# no name and no time stored, so the same source gives the same bytes. The
# copy made by configure_file makes CMake configure again when the source
# changes. Without gzip the manual page goes in as it is.
find_program(PELLIDOR_GZIP gzip)
set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
function(pellidor_gzip source output mode)
  configure_file(${source} ${output}.plain ${mode})
  execute_process(COMMAND ${PELLIDOR_GZIP} -9n -c ${output}.plain
                  OUTPUT_FILE ${output} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${source}")
  endif()
endfunction()

if(PELLIDOR_GZIP)
  # The manual page is copied as it is: its tokens look like @VARIABLES@.
  pellidor_gzip(${CMAKE_SOURCE_DIR}/pellidor.1 ${packaging_dir}/pellidor.1.gz
                COPYONLY)
  install(FILES ${packaging_dir}/pellidor.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  pellidor_gzip(${CMAKE_SOURCE_DIR}/packaging/changelog.in
                ${packaging_dir}/changelog.gz @ONLY)
  install(FILES ${packaging_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES pellidor.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The copyright file carries the licence's permission text from LICENSE,
# each line indented by one blank and an empty line written as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Permission is hereby" start)
string(SUBSTRING "${licence}" ${start} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " PELLIDOR_LICENSE_TEXT " ${licence}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright.in
               ${packaging_dir}/copyright @ONLY)
install(FILES ${packaging_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellidor)
set(CPACK_PACKAGE_VENDOR "The pellidor authors")
set(CPACK_PACKAGE_CONTACT "${PELLIDOR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "HTML listing of a bulletin board's file bases")
# The extended description, one line of the control file per line here.
set(CPACK_PACKAGE_DESCRIPTION
    "pellidor reads the binary data files of a Korvel bulletin board and
writes one HTML page that lists the files of its file bases, shaped
entirely by plain-text templates. It only ever reads the board's files.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The program goes in stripped, and its debugging information in a second
# package, pellidor-dbgsym (pellidor-dbgsym_<version>_<arch>.ddeb), as
# /usr/lib/debug/.build-id/<xx>/<rest of the build-id>.debug: with it
# installed, addr2line reads a fatal error report's locations. CPack strips
# the program itself while it takes the information out, so it must get it
# unstripped. packaging/dbgsym.cmake mends what CPack leaves amiss in that
# package, which needs CMake 3.19; an older one makes the program's package
# alone, stripped.
if(CMAKE_VERSION VERSION_LESS 3.19)
  set(CPACK_STRIP_FILES ON)
else()
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/dbgsym.cmake)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ runtime dependencies come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
