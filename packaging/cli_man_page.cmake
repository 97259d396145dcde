# Writes the manual page of quenlith-cli from its --help and --version output, as roff.
#
#   cmake -DCLI=path/to/quenlith-cli -DOUT=quenlith-cli.1 [-DGZIP=/usr/bin/gzip]
#         [-DSUMMARY="one line"] [-DDOCDIR=share/doc/quenlith] -P cli_man_page.cmake
#
# The help text is read line by line: "Usage:" gives the synopsis, the lines up to
# "Options:" the description, every line that starts with two blanks and a dash an option
# (its description may continue on lines indented further), and a closing paragraph that
# starts with "Exit status:" the exit status section. With GZIP the page is also written
# compressed, as OUT.gz. Lists are avoided throughout: help texts hold "[" and ";".

if(NOT CLI OR NOT OUT)
  message(FATAL_ERROR "cli_man_page.cmake needs -DCLI=... and -DOUT=...")
endif()

execute_process(COMMAND "${CLI}" --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${CLI} --help failed (${status})")
endif()
execute_process(COMMAND "${CLI}" --version OUTPUT_VARIABLE version RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR version STREQUAL "")
  message(FATAL_ERROR "${CLI} --version failed (${status})")
endif()
get_filename_component(program "${CLI}" NAME_WE)
if(NOT SUMMARY)
  set(SUMMARY "command-line front end")
endif()

# Text for roff: backslashes escaped, a leading dot or quote made harmless.
function(roff_text out text)
  string(REPLACE "\\" "\\e" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# An option name and its argument: the name bold with its dashes as minus signs, the
# argument in italics.
function(roff_option out name arg)
  string(REPLACE "-" "\\-" name "${name}")
  set(text "\\fB${name}\\fR")
  if(NOT arg STREQUAL "")
    string(APPEND text " \\fI${arg}\\fR")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(TOUPPER "${program}" title)
string(TIMESTAMP month "%B %Y" UTC)
string(REPLACE "-" "\\-" program_roff "${program}")
set(page ".TH ${title} 1 \"${month}\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${program_roff} \\- ${SUMMARY}\n")

set(part head)      # head, description, options, tail
set(option_open OFF)
set(paragraph_break OFF)
set(rest "${help}")
while(NOT rest STREQUAL "")
  string(FIND "${rest}" "\n" nl)
  if(nl EQUAL -1)
    set(line "${rest}")
    set(rest "")
  else()
    string(SUBSTRING "${rest}" 0 ${nl} line)
    math(EXPR nl "${nl} + 1")
    string(SUBSTRING "${rest}" ${nl} -1 rest)
  endif()
  string(STRIP "${line}" stripped)

  if(line MATCHES "^Usage: ([^ ]+)(.*)$")
    set(synopsis_args "${CMAKE_MATCH_2}")
    string(STRIP "${synopsis_args}" synopsis_args)
    string(REGEX REPLACE "([A-Z][A-Z]+)" "\\\\fI\\1\\\\fR" synopsis_args "${synopsis_args}")
    string(APPEND page ".SH SYNOPSIS\n.B ${program_roff}\n${synopsis_args}\n")
    string(APPEND page ".SH DESCRIPTION\n")
    set(part description)
  elseif(line STREQUAL "Options:")
    string(APPEND page ".SH OPTIONS\n")
    set(part options)
    set(paragraph_break OFF)
  elseif(part STREQUAL "description")
    if(stripped STREQUAL "")
      set(paragraph_break ON)
    else()
      if(paragraph_break)
        string(APPEND page ".PP\n")
        set(paragraph_break OFF)
      endif()
      roff_text(text "${stripped}")
      string(APPEND page "${text}\n")
    endif()
  elseif(part STREQUAL "options")
    if(line MATCHES "^  (-[-A-Za-z0-9]+)( [A-Z]+)?( +(.*))?$")
      set(name "${CMAKE_MATCH_1}")
      set(arg "${CMAKE_MATCH_2}")
      set(desc "${CMAKE_MATCH_4}")
      string(STRIP "${arg}" arg)
      roff_option(head_text "${name}" "${arg}")
      string(APPEND page ".TP\n${head_text}\n")
      if(NOT desc STREQUAL "")
        roff_text(text "${desc}")
        string(APPEND page "${text}\n")
      endif()
      set(option_open ON)
    elseif(option_open AND line MATCHES "^   +[^ ]")
      roff_text(text "${stripped}")
      string(APPEND page "${text}\n")
    elseif(stripped STREQUAL "")
      set(part tail)
      set(option_open OFF)
    else()
      message(FATAL_ERROR "unexpected line in the options of ${program} --help: '${line}'")
    endif()
  elseif(part STREQUAL "tail")
    if(stripped MATCHES "^Exit status: *(.*)$")
      string(APPEND page ".SH \"EXIT STATUS\"\n")
      set(stripped "${CMAKE_MATCH_1}")
      set(paragraph_break OFF)
    elseif(stripped STREQUAL "")
      set(paragraph_break ON)
      continue()
    elseif(paragraph_break)
      string(APPEND page ".PP\n")
      set(paragraph_break OFF)
    endif()
    roff_text(text "${stripped}")
    string(APPEND page "${text}\n")
  endif()
endwhile()

if(NOT part STREQUAL "tail" AND NOT part STREQUAL "options")
  message(FATAL_ERROR "${program} --help has no \"Options:\" section")
endif()

string(APPEND page ".SH EXAMPLES\n"
  "Three simulations of a sample of 20 copies, repeatable with the same seed:\n"
  ".PP\n.RS\n.nf\n"
  "${program_roff} \\-\\-seed 7 \\-\\-sims 3 \\-\\-sample\\-size 20 \\-\\-workdir run1\n"
  ".fi\n.RE\n"
  ".PP\nWithout \\fB\\-\\-seed\\fR the clock seeds the run and the seed used is printed on "
  "standard error as \\fBseed: \\fR\\fIS\\fR.\n")
string(APPEND page ".SH \"SEE ALSO\"\n\\fBquenlith\\fR, the window with the same controls.\n")
if(DOCDIR)
  string(APPEND page "The user guide: \\fIREADME.md\\fR in \\fI${DOCDIR}\\fR under the "
                     "installation prefix.\n")
endif()

file(WRITE "${OUT}" "${page}")
if(GZIP)
  execute_process(COMMAND "${GZIP}" -9 -n -c "${OUT}" OUTPUT_FILE "${OUT}.gz"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${OUT}")
  endif()
endif()
