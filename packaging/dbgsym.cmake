# Run by cpack after it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack's debug-symbols package lists its file in md5sums under the path it
# was staged at, and has no documentation directory; this rebuilds it with
# the right md5sums and with /usr/share/doc/pellidor-dbgsym as a link to the
# program's own, as Debian's debug-symbols packages have.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(root ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-fix)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb -R ${package} ${root}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R failed on ${package}")
  endif()
  # A data file, not a program: mode 644, as Debian's have it.
  file(GLOB_RECURSE debug_files ${root}/usr/lib/debug/*.debug)
  file(CHMOD ${debug_files} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
             WORLD_READ)
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${CPACK_PACKAGE_NAME}
       ${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym SYMBOLIC)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    if(NOT IS_SYMLINK ${root}/${file})
      file(MD5 ${root}/${file} sum)
      string(APPEND sums "${sum}  ${file}\n")
    endif()
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${root} ${package}
                  OUTPUT_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --build failed on ${package}")
  endif()
  file(REMOVE_RECURSE ${root})
endforeach()
