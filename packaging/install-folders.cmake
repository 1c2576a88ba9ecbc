# Run by `cmake --install` before it installs anything (install(SCRIPT)): notes the folders the
# install is about to create beside CMake's manifest, in the build folder vesk_build, so that
# uninstall.cmake removes them again and no folder that was there before. The record is named as
# the manifest is: an install of one component (the tests', CPack's) leaves a user's alone. vesk_folders are the folders files go to, under the prefix; each
# is noted with every folder above it that is missing too, the prefix and beyond included. A
# folder an earlier install into the same place created, and still there, stays noted: a second
# install finds it, but it was not there before the first. As in CMake's install_manifest.txt,
# the paths leave DESTDIR out.
set(destdir "$ENV{DESTDIR}")
set(vesk_record "${vesk_build}/install_folders.txt")
if(CMAKE_INSTALL_COMPONENT)
  set(vesk_record "${vesk_build}/install_folders_${CMAKE_INSTALL_COMPONENT}.txt")
endif()
set(created "")
if(EXISTS "${vesk_record}")
  file(STRINGS "${vesk_record}" earlier)
  foreach(folder IN LISTS earlier)
    string(FIND "${CMAKE_INSTALL_PREFIX}/" "${folder}/" above)
    string(FIND "${folder}/" "${CMAKE_INSTALL_PREFIX}/" below)
    if(IS_DIRECTORY "${destdir}${folder}" AND (above EQUAL 0 OR below EQUAL 0))
      list(APPEND created "${folder}")
    endif()
  endforeach()
endif()
foreach(folder IN LISTS vesk_folders)
  set(path "${folder}")
  if(NOT IS_ABSOLUTE "${folder}")
    set(path "${CMAKE_INSTALL_PREFIX}/${folder}")
  endif()
  cmake_path(NORMAL_PATH path)
  string(REGEX REPLACE "(.)/$" "\\1" path "${path}")
  while(path AND NOT EXISTS "${destdir}${path}")
    list(APPEND created "${path}")
    cmake_path(GET path PARENT_PATH parent)
    if(parent STREQUAL path)
      break()
    endif()
    set(path "${parent}")
  endwhile()
endforeach()
list(REMOVE_DUPLICATES created)
list(JOIN created "\n" created)
file(WRITE "${vesk_record}" "${created}\n")
