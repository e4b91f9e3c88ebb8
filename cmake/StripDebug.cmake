# Run by cpack after the installation into its staging folder: removes the debugging information
# from the programs but keeps their symbol tables, so that a crash report still names functions.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --strip-debug ${program} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy --strip-debug ${program} failed")
  endif()
endforeach()
