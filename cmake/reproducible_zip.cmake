# Run by CPack once it has written the release zip. The zip then records, for
# every entry, the build's own times (modification, access and change) in the
# order the files were found. strip-nondeterminism (Debian's package of that
# name) sets every entry's time to the commit's and drops the rest, so that
# the same commit gives the same bytes wherever and whenever it is packed.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CPACK_TESSERA_SOURCE_DIR}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch)
    message(FATAL_ERROR "No commit time for the zip's entries: pack a git checkout or set SOURCE_DATE_EPOCH")
  endif()
endif()
find_program(STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism is needed to make the zip reproducible (apt-get install strip-nondeterminism)")
endif()
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip --timestamp ${epoch} ${zip} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
