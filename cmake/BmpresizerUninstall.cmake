# Removes what the last `cmake --install` of this build put in place, as
# listed in install_manifest.txt, then the folders of our own that this
# leaves empty (those named after the project); shared folders such as
# include/ or lib/pkgconfig/ stay. Run through the `uninstall` target:
#   cmake --build build --target uninstall
# BMPRESIZER_MANIFEST names the manifest.
if(NOT EXISTS "${BMPRESIZER_MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${BMPRESIZER_MANIFEST} does not exist "
                      "(it is written by cmake --install)")
endif()
file(STRINGS "${BMPRESIZER_MANIFEST}" installed)
set(folders "")
foreach(path IN LISTS installed)
  # (A file a package manager removed first is already gone.)
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(FATAL_ERROR "Could not remove ${path}")
    endif()
  endif()
  get_filename_component(folder "${path}" DIRECTORY)
  list(APPEND folders "${folder}")
endforeach()
# Deepest first, so that a folder emptied by removing its own sub-folder goes
# too.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  while(folder MATCHES "/[^/]*bmpresize[^/]*$" AND IS_DIRECTORY "${folder}")
    file(GLOB left "${folder}/*" "${folder}/.*")
    if(left)
      break()
    endif()
    message(STATUS "Removing ${folder}/")
    file(REMOVE_RECURSE "${folder}")
    get_filename_component(folder "${folder}" DIRECTORY)
  endwhile()
endforeach()
