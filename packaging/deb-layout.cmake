# Run by CPack on the staged files before the package is made: the licence
# becomes the copyright file, the man page and a changelog are compressed
# (gzip -9n: the same bytes on every build).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*.1")
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(GLOB_RECURSE licences "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/zelp/LICENSE")
foreach(licence ${licences})
  get_filename_component(doc ${licence} DIRECTORY)
  # The page (and the Nettle code in it) is not in this package: its licence
  # paragraph stays in the zip's LICENSE only.
  file(READ ${licence} text)
  string(FIND "${text}" "\nThe browser page (web/" cut)
  if(cut GREATER -1)
    string(SUBSTRING "${text}" 0 ${cut} text)
  endif()
  file(WRITE ${doc}/copyright "${text}")
  file(REMOVE ${licence})
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${doc}/changelog "zelp (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}
")
  execute_process(COMMAND gzip -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
endforeach()
