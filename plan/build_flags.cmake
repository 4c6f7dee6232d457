# Writes OUTPUT, a header defining VORP_COMPILE_RECORDS: one
# {"target", "source file name", "compile command"} per source file of the
# targets in PRODUCTS (comma-separated), read from COMMANDS, the
# compile_commands.json the generator wrote. The context reports the flags
# of these commands, so they are the ones the build really ran, whatever set
# them (CMAKE_CXX_FLAGS, a target's or a source file's options, a linked
# target's usage requirements). Without COMMANDS the list is empty.
cmake_policy(VERSION 3.25)
string(REPLACE "," ";" products "${PRODUCTS}")
set(records "")
if(COMMANDS AND EXISTS "${COMMANDS}")
  file(READ "${COMMANDS}" document)
  string(JSON count LENGTH "${document}")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(index RANGE ${last})
      string(JSON entry GET "${document}" ${index})
      string(JSON command ERROR_VARIABLE no_command GET "${entry}" command)
      if(no_command)
        # The other form: the words as an array.
        set(command "")
        string(JSON words LENGTH "${entry}" arguments)
        if(words GREATER 0)
          math(EXPR last_word "${words} - 1")
          foreach(word_index RANGE ${last_word})
            string(JSON word GET "${entry}" arguments ${word_index})
            string(APPEND command " ${word}")
          endforeach()
        endif()
      endif()
      # The object file names the target: <dir>/CMakeFiles/<target>.dir/<source>.o
      if(NOT command MATCHES " -o +[^ ]*CMakeFiles/([^/ ]+)\\.dir/")
        continue()
      endif()
      set(target "${CMAKE_MATCH_1}")
      if(NOT target IN_LIST products)
        continue()
      endif()
      string(JSON source GET "${entry}" file)
      get_filename_component(source "${source}" NAME)
      string(STRIP "${command}" command)
      foreach(text_name target source command)
        string(REPLACE "\\" "\\\\" ${text_name} "${${text_name}}")
        string(REPLACE "\"" "\\\"" ${text_name} "${${text_name}}")
      endforeach()
      string(APPEND records "  {\"${target}\", \"${source}\", \"${command}\"}, \\\n")
    endforeach()
  endif()
endif()

set(content "// Generated at build time by build_flags.cmake from compile_commands.json.\n"
            "#define VORP_COMPILE_RECORDS \\\n${records}\n")
string(JOIN "" content ${content})
# Written every time the compile commands change: newer than them, so the
# build does not run this again until they change once more.
file(WRITE "${OUTPUT}" "${content}")
