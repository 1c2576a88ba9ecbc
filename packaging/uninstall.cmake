# `make uninstall` (or the build's `uninstall` target): removes what the last `cmake --install` of
# the build in VESK_BUILD put in place (of the component VESK_COMPONENT, if given). Every file in
# its install_manifest.txt goes, then every folder that install created (install_folders.txt,
# written by install-folders.cmake) that is left empty, the deepest first. Nothing else is touched: a folder that was there before the install,
# or that holds anything else now, stays. Both lists leave out DESTDIR: give it again, as to the
# install.
set(manifest "${VESK_BUILD}/install_manifest.txt")
set(record "${VESK_BUILD}/install_folders.txt")
if(VESK_COMPONENT)
  set(manifest "${VESK_BUILD}/install_manifest_${VESK_COMPONENT}.txt")
  set(record "${VESK_BUILD}/install_folders_${VESK_COMPONENT}.txt")
endif()
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "nothing to uninstall: ${manifest} is missing; `cmake --install` writes it")
endif()
file(STRINGS "${manifest}" files)
list(TRANSFORM files PREPEND "$ENV{DESTDIR}")
foreach(file IN LISTS files)
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing: ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()

if(EXISTS "${record}")
  file(STRINGS "${record}" folders)
  # In descending order a folder comes before its parent, whose path is a prefix of its own.
  list(TRANSFORM folders PREPEND "$ENV{DESTDIR}")
  list(TRANSFORM folders REPLACE "(.)/$" "\\1")
  list(SORT folders ORDER DESCENDING)
  foreach(folder IN LISTS folders)
    if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
      # rmdir removes a folder only when it is empty.
      execute_process(COMMAND rmdir "${folder}" RESULT_VARIABLE left ERROR_QUIET)
      if(left EQUAL 0)
        message(STATUS "Removing: ${folder}")
      endif()
    endif()
  endforeach()
endif()
