# Run by CPack on the staged files before it builds the package. Strips the programs
# as dh_strip does: no debug symbols, and no .comment or .note section either.
find_program(KMB_STRIP NAMES strip REQUIRED)
file(GLOB programs LIST_DIRECTORIES false
     "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
if(NOT programs)
  message(FATAL_ERROR "no programs staged under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${KMB_STRIP}" --remove-section=.comment --remove-section=.note
            --strip-unneeded "${program}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
