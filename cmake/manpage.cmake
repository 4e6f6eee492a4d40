# Writes datapack's manual page from its own help, so that the two never disagree:
# `datapack --help` becomes the description, each command's `datapack help COMMAND` a section.
#
#   cmake -DDATAPACK=path/to/datapack -DOUT=datapack.1 -P manpage.cmake
#
# The help is printed as preformatted text (.nf): its columns are laid out for a terminal
# already. No date goes into the page, so that it is the same in every build.

function(run_help out_var)
  execute_process(COMMAND ${DATAPACK} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "datapack ${ARGN} failed (${rc})")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# roff: a backslash is written \e; a line that starts with . or ' is a request unless
# preceded by the zero-width \&.
function(roff_escape out_var text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

run_help(version --version)
string(STRIP "${version}" version)
run_help(overview --help)

# The commands are the lines "  NAME  description" of the overview's "Commands:" block.
string(REGEX MATCH "Commands:\n(([ ]+[a-z]+[^\n]*\n)+)" _ "${overview}")
string(REPLACE "\n" ";" lines "${CMAKE_MATCH_1}")
set(commands "")
foreach(line IN LISTS lines)
  if(line MATCHES "^ +([a-z]+) " AND NOT CMAKE_MATCH_1 STREQUAL "help")
    list(APPEND commands ${CMAKE_MATCH_1})
  endif()
endforeach()

roff_escape(body "${overview}")
set(page ".TH DATAPACK 1 \"\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\ndatapack \\- create, list, verify and extract setup packages (_Data.001)\n")
string(APPEND page ".SH SYNOPSIS\n.B datapack\n.I COMMAND\n[\\fIOPTIONS\\fR] ...\n")
string(APPEND page ".SH DESCRIPTION\n.nf\n${body}.fi\n")
foreach(command IN LISTS commands)
  run_help(text help ${command})
  roff_escape(text "${text}")
  string(TOUPPER "${command}" title)
  string(APPEND page ".SH ${title}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND page ".SH SEE ALSO\nThe README of the source distribution.\n")
file(WRITE "${OUT}" "${page}")
