# CPack post-build script: writes the Multi-Arch field into the control file
# of each package just made (same for the development package, foreign for
# the tools).
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${deb} NAME)
  if(name MATCHES "^libtessel-dev_")
    set(multiarch same)
  elseif(name MATCHES "^tessel-tools_")
    set(multiarch foreign)
  else()
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${tree}/DEBIAN/control control)
  string(STRIP "${control}" control)  # a blank line would start a new paragraph
  file(WRITE ${tree}/DEBIAN/control "${control}\nMulti-Arch: ${multiarch}\n")
  execute_process(COMMAND dpkg-deb --root-owner-group -b ${tree} ${deb} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
