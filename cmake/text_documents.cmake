# Makes the release's plain-text documents from the Markdown ones, with CR LF
# line ends, as Windows users read them:
#   README.txt  what a user of the zip needs from README.md (what tessera is,
#               using it on Windows, preparing pictures, formats, exit codes,
#               tessera-palette, tessera-frm, licence) and the manual's
#               fault table;
#   MANUAL.txt  docs/manual.md whole.
# Markdown's marks go: code fences and backticks, bold, link targets; headings
# are underlined.
#   cmake -DSOURCE=<source dir> -DOUT=<output dir> -P text_documents.cmake

# The section of `text` under the heading "## `title`", heading included.
function(take_section text title out)
  string(FIND "${text}" "\n## ${title}\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "no section \"${title}\"")
  endif()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "\n## " end)
  string(SUBSTRING "${rest}" 0 ${end} section)
  set(${out} "${section}\n" PARENT_SCOPE)
endfunction()

function(plain_text markdown out)
  set(text "${markdown}")
  foreach(level "###" "##" "#")
    string(REGEX MATCHALL "(^|\n)${level} [^\n]*" headings "${text}")
    foreach(heading IN LISTS headings)
      string(REGEX REPLACE "^\n?${level} " "" title "${heading}")
      string(LENGTH "${title}" length)
      if(level STREQUAL "#")
        string(REPEAT "=" ${length} line)
      elseif(level STREQUAL "##")
        string(REPEAT "-" ${length} line)
      else()
        string(REPEAT "~" ${length} line)
      endif()
      string(REGEX REPLACE "^(\n?)${level} .*" "\\1${title}\n${line}" underlined "${heading}")
      string(REPLACE "${heading}\n" "${underlined}\n" text "${text}")
    endforeach()
  endforeach()
  string(REGEX REPLACE "```[a-z]*\n" "" text "${text}")
  string(REGEX REPLACE "\\[([^]]*)\\]\\([^)]*\\)" "\\1" text "${text}")
  string(REPLACE "docs/manual.md" "MANUAL.txt" text "${text}")
  string(REPLACE "`" "" text "${text}")
  string(REPLACE "**" "" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${SOURCE}/README.md readme)
file(READ ${SOURCE}/docs/manual.md manual)

string(FIND "${readme}" "\n## " first_section)
string(SUBSTRING "${readme}" 0 ${first_section} chosen)
foreach(title "Using it on Windows" "Preparing pictures" "Formats" "Exit codes"
              "tessera-palette: checking pictures against the game's palette"
              "tessera-frm: animations of many frames")
  take_section("${readme}" "${title}" section)
  string(APPEND chosen "\n${section}")
endforeach()
take_section("${manual}" "Faults" section)
string(APPEND chosen "\n${section}")
take_section("${readme}" "Licence" section)
string(APPEND chosen "\n${section}")

plain_text("${chosen}" readme_text)
plain_text("${manual}" manual_text)
file(WRITE ${OUT}/README.txt "${readme_text}")
file(WRITE ${OUT}/MANUAL.txt "${manual_text}")
