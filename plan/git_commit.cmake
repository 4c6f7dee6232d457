# Writes OUTPUT, a header defining VORP_GIT_COMMIT: the short hash of the
# commit SOURCE_DIR is at, plus "-dirty" when tracked files differ from it;
# "unknown" outside a git checkout or without GIT_EXECUTABLE. The file is
# rewritten only when its content changes, so an unchanged commit rebuilds
# nothing.
set(commit "unknown")
if(GIT_EXECUTABLE)
  # Only SOURCE_DIR's own checkout counts, not one that merely contains it.
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel --short HEAD
    OUTPUT_VARIABLE lines RESULT_VARIABLE failed
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REPLACE "\n" ";" lines "${lines}")
  list(LENGTH lines count)
  if(NOT failed AND count EQUAL 2)
    list(GET lines 0 top)
    list(GET lines 1 hash)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(NOT failed AND count EQUAL 2 AND top STREQUAL source)
    set(commit "${hash}")
    # --no-optional-locks: never take the index lock a concurrent git command may need.
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" --no-optional-locks -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
      OUTPUT_VARIABLE changes RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND NOT changes STREQUAL "")
      string(APPEND commit "-dirty")
    endif()
  endif()
endif()

set(content "// Generated at build time by git_commit.cmake.\n#define VORP_GIT_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
