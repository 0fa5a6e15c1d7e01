# Run at build time: writes OUTPUT from TEMPLATE with VERSION and the git
# revision of SOURCE_DIR. configure_file leaves an unchanged header alone, so
# only a new revision rebuilds what includes it.
set(BRIVANE_VERSION "${VERSION}")
set(BRIVANE_REVISION "")
find_program(GIT git)
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND ${GIT} -C "${SOURCE_DIR}" rev-parse --short=10 HEAD
    OUTPUT_VARIABLE rev RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0 AND rev)
    set(BRIVANE_REVISION "${rev}")
    execute_process(COMMAND ${GIT} -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
      OUTPUT_VARIABLE changes RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND NOT changes STREQUAL "")
      string(APPEND BRIVANE_REVISION "-modified")
    endif()
  endif()
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
