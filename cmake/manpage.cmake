# Writes datapack's manual page from its own help, so that the two never disagree:
# `datapack --help` becomes the description and its "Exit status:" block the EXIT STATUS
# section, each command's `datapack help COMMAND` a section. What the help does not say
# (the environment, examples, where the rest of the documentation is) is written here.
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

# The overview ends with the exit statuses: they get the section of their own that readers
# of manual pages look for.
string(FIND "${overview}" "\nExit status:\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "datapack --help has no \"Exit status:\" block")
endif()
string(SUBSTRING "${overview}" 0 ${at} description)
math(EXPR at "${at} + 14")
string(SUBSTRING "${overview}" ${at} -1 exit_status)

# The NAME line is what apropos and whatis show: it names every command.
set(name "create, list, verify and extract setup packages (_Data.001); brand setup.exe")
foreach(command IN LISTS commands)
  if(NOT name MATCHES "(^|[^a-z])${command}([^a-z]|$)")
    message(FATAL_ERROR "the NAME line does not mention the command ${command}: ${name}")
  endif()
endforeach()

roff_escape(description "${description}\n")
roff_escape(exit_status "${exit_status}")
set(page ".TH DATAPACK 1 \"\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\ndatapack \\- ${name}\n")
string(APPEND page ".SH SYNOPSIS\n.B datapack\n.I COMMAND\n[\\fIOPTIONS\\fR] ...\n")
string(APPEND page ".SH DESCRIPTION\n.nf\n${description}.fi\n")
foreach(command IN LISTS commands)
  run_help(text help ${command})
  roff_escape(text "${text}")
  string(TOUPPER "${command}" title)
  string(APPEND page ".SH ${title}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND page ".SH \"EXIT STATUS\"\n.nf\n${exit_status}.fi\n")
string(APPEND page [[
.SH ENVIRONMENT
.TP
.B SOURCE_DATE_EPOCH
The time, in seconds since 1970-01-01 00:00 UTC, that
.B create
gives every file it packs when
.B \-\-epoch
is not given, so that the same inputs make a byte-identical package.
.TP
.B TMPDIR
The folder (default
.IR /tmp )
of the scratch file that holds a package read from a pipe (the package
.BR \- ),
and the output of
.B create \-\-strict \-o \-
until it is complete. The file has no name that others see and is gone when datapack ends.
.SH EXAMPLES
Pack a list file, its setup program and uninstaller and the support files from
.IR files/ ,
setting the list's size lines so that the progress bar ends at 100 %; then check the
package as the bootstrapper reads it, show its entries and unpack it (\fB\-f\fR replaces
what an earlier run made):
.PP
.nf
.RS
datapack create \-f \-l Setup.lst \-s Setup1.exe \-u uninst.exe \-d files \e
    \-\-fix\-sizes \-o _Data.001
datapack verify _Data.001
datapack list _Data.001
datapack extract \-f \-C unpacked _Data.001
.RE
.fi
.PP
With a fixed time, the same inputs give the same bytes whenever and wherever the package
is made, so that a checksum can be compared:
.PP
.nf
.RS
SOURCE_DATE_EPOCH=1767225600 datapack create \-q \-l Setup.lst \-s Setup1.exe \e
    \-u uninst.exe \-d files \-\-fix\-sizes \-o \- | sha256sum
.RE
.fi
.PP
A copy of the release setup.exe with your own icon and link address (sign the copy, not
the release):
.PP
.nf
.RS
datapack brand \-i product.ico \-l https://www.example.com/support/ \e
    \-o mysetup.exe setup.exe
.RE
.fi
.SH "SEE ALSO"
.BR sha256sum (1)
.PP
The README, installed with datapack as
.I \%/usr/share/doc/datapack/README.md.gz
(under the prefix of
.BR "cmake \-\-install" :
.IR \%share/doc/datapack/README.md.gz ),
tells how setup.exe runs a package, how to make, brand and sign one;
.I datapack.md.gz
beside it describes every command in full, and
.I copyright
gives the licences.
]])
file(WRITE "${OUT}" "${page}")
