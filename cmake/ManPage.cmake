# Writes the manual page of ondalo-cli from its own help texts, so that the
# page never drifts from the program: help2man takes --help and --version,
# and every command's --help becomes a section of its own.
#   cmake -DCLI=... -DHELP2MAN=... -DINCLUDE=... -DWORK=... -DOUTPUT=... -P ManPage.cmake

function(run_cli out)
  execute_process(COMMAND ${CLI} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CLI} ${ARGN} failed (${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text for roff, kept as it is laid out: backslashes escaped, no line
# mistaken for a request.
function(roff_verbatim text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

run_cli(main --help)
string(REGEX MATCH "Commands:\n(([ ]+[a-z-]+[^\n]*\n)+)" _ "${main}")
string(REGEX MATCHALL "\n  [a-z-]+" names "\n${CMAKE_MATCH_1}")
set(section "[COMMANDS IN DETAIL]\n")
foreach(name ${names})
  string(STRIP "${name}" name)
  run_cli(help ${name} --help)
  roff_verbatim("${help}" body)
  string(APPEND section ".SS ${name}\n${body}")
endforeach()
if(section STREQUAL "[COMMANDS IN DETAIL]\n")
  message(FATAL_ERROR "no commands found in the help of ${CLI}")
endif()

file(READ ${INCLUDE} fixed)
file(WRITE ${WORK} "${fixed}\n${section}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
                        --name "convert audio files and rip audio CDs"
                        --include ${WORK} --output ${OUTPUT} ${CLI}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${CLI}")
endif()
