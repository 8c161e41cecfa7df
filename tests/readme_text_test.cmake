# Tests the maker of README.txt: a sample with every kind of line it handles, compared byte
# for byte, then the project's README.md, whose guide must hold what a Windows user needs.
# cmake -DSCRIPT=cmake/readme_text.cmake -DREADME=README.md -DWORK_DIR=... -P readme_text_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(make_text input output)
  execute_process(COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DVERSION=9.8.7
                          -DRELEASE_DATE=2031-01-02 -P ${SCRIPT}
                  RESULT_VARIABLE status ERROR_VARIABLE err)
  set(make_status ${status} PARENT_SCOPE)
  set(make_error "${err}" PARENT_SCOPE)
endfunction()

# ---- A sample, byte for byte ----------------------------------------------------------
string(REPEAT "w" 60 long)
file(WRITE ${WORK_DIR}/sample.md
  "# Not in the guide\r\n"
  "Left out.\n"
  "<!-- windows-guide:start -->\n"
  "## Part `one`\n"
  "**Bold** text, split by `;` and `\\`, in car-tools-VERSION.\n"
  "`Zandrel.exe`, `Pelmora.exe` (`x` or `yz`).\n"
  "\n"
  "    a;b;[c];d\\\n"
  "    [open\n"
  "\n"
  "| key | value |\n"
  "|---|---|\n"
  "| `abc` | one |\n"
  "| long key | two |\n"
  "<!-- windows-guide:end -->\n"
  "Left out too.\n"
  "<!-- windows-guide:start -->\n"
  "### Part two\n"
  "| message | meaning |\n"
  "|---|---|\n"
  "| `First` | ${long} ${long} |\n"
  "| `Second` | short |\n"
  "<!-- windows-guide:end -->\n")
make_text(${WORK_DIR}/sample.md ${WORK_DIR}/sample.txt)
if(NOT make_status EQUAL 0)
  message(FATAL_ERROR "the sample was refused: ${make_error}")
endif()
# Built line by line: a list would split at the semicolons.
string(ASCII 239 187 191 utf8_mark)
set(expected "${utf8_mark}")
string(APPEND expected "Car Tools 9.8.7: Zandrel and Pelmora for Windows\r\n")
string(APPEND expected "================================================\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "Release of 2031-01-02, by the Car Tools developers. Licence: MIT, see LICENSE.txt.\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "Part one\r\n")
string(APPEND expected "--------\r\n")
string(APPEND expected "Bold text, split by \";\" and \"\\\", in car-tools-9.8.7.\r\n")
string(APPEND expected "Zandrel.exe, Pelmora.exe (\"x\" or \"yz\").\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "    a;b;[c];d\\\r\n")
string(APPEND expected "    [open\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "key       value\r\n")
string(APPEND expected "--------  -----\r\n")
string(APPEND expected "abc       one\r\n")
string(APPEND expected "long key  two\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "Part two\r\n")
string(APPEND expected "~~~~~~~~\r\n")
string(APPEND expected "First\r\n")
string(APPEND expected "    ${long}\r\n")
string(APPEND expected "    ${long}\r\n")
string(APPEND expected "\r\n")
string(APPEND expected "Second\r\n")
string(APPEND expected "    short\r\n")
# Compared as hex: file(READ) as text would drop the CRs.
file(READ ${WORK_DIR}/sample.txt made HEX)
string(HEX "${expected}" expected_hex)
if(NOT made STREQUAL expected_hex)
  file(WRITE ${WORK_DIR}/sample.expected "${expected}")
  message(FATAL_ERROR "sample.txt differs from sample.expected in ${WORK_DIR}")
endif()

# ---- Unpaired markers are refused -------------------------------------------------------
file(WRITE ${WORK_DIR}/unpaired.md "text\n<!-- windows-guide:start -->\n## A\n")
make_text(${WORK_DIR}/unpaired.md ${WORK_DIR}/unpaired.txt)
if(make_status EQUAL 0)
  message(FATAL_ERROR "a guide part without its end marker was accepted")
endif()

# ---- A message is described once ------------------------------------------------------------
# The messages of each program's part of the guide (a level-2 heading), as the guide describes
# them: the first cell of each row of its "message" and "status" tables, the text in backticks
# that starts each item of a list after a "**Messages" paragraph, and the bold title of each
# paragraph. Sets result to those described more than once, each with its line numbers, and
# to each table row that stands alone after a paragraph, outside any table.
function(messages_described_twice file result)
  file(READ ${file} text)
  string(ASCII 1 semicolon)
  string(ASCII 2 open)
  string(ASCII 3 close)
  string(ASCII 4 backslash)
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE "\\" "${backslash}" text "${text}")
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${open}" text "${text}")
  string(REPLACE "]" "${close}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(twice "")
  set(inside FALSE)
  set(in_table FALSE)
  set(in_messages FALSE)
  set(number 0)
  set(keys "")
  set(previous "")
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    # A table starts with its header and the line of dashes below it.
    if(previous MATCHES "^ *\\|" AND NOT previous_in_table AND NOT line MATCHES "^[|: -]+$")
      math(EXPR stray "${number} - 1")
      string(APPEND twice "\n  a table row outside any table (line ${stray})")
    endif()
    set(previous_in_table FALSE)
    if(previous MATCHES "^ *\\|")
      set(previous_in_table TRUE)
    endif()
    set(previous "${line}")
    if(line MATCHES "^<!-- windows-guide:start -->")
      set(inside TRUE)
    elseif(line MATCHES "^<!-- windows-guide:end -->")
      set(inside FALSE)
    endif()
    if(NOT inside)
      continue()
    endif()
    if(line MATCHES "^## ")
      foreach(key IN LISTS keys)
        unset(line_of_${key})
      endforeach()
      set(keys "")
    endif()
    set(message "")
    if(line MATCHES "^ *\\| *(message|status) *\\|")
      set(in_table TRUE)
      continue()
    elseif(NOT line MATCHES "^ *\\|")
      set(in_table FALSE)
    elseif(in_table AND NOT line MATCHES "^[|: -]+$" AND line MATCHES "^ *\\|([^|]*)\\|")
      string(STRIP "${CMAKE_MATCH_1}" message)
    endif()
    if(line MATCHES "^\\*\\*([^*]+)\\*\\*")
      set(message "**${CMAKE_MATCH_1}**")
    endif()
    if(line MATCHES "^\\*\\*Messages")
      set(in_messages TRUE)
    elseif(line MATCHES "^(\\*\\*|#)")
      set(in_messages FALSE)
    elseif(in_messages AND line MATCHES "^- `([^`]*)`")
      set(message "${CMAKE_MATCH_1}")
    endif()
    if(message STREQUAL "")
      continue()
    endif()
    string(MD5 key "${message}")
    if(DEFINED line_of_${key})
      string(REPLACE "${semicolon}" ";" shown "${message}")
      string(REPLACE "${open}" "[" shown "${shown}")
      string(REPLACE "${close}" "]" shown "${shown}")
      string(REPLACE "${backslash}" "\\" shown "${shown}")
      string(APPEND twice "\n  '${shown}' (lines ${line_of_${key}} and ${number})")
    else()
      set(line_of_${key} ${number})
      list(APPEND keys ${key})
    endif()
  endforeach()
  set(${result} "${twice}" PARENT_SCOPE)
endfunction()

# A sample that describes each kind twice, beside a message of both programs.
file(WRITE ${WORK_DIR}/twice.md
  "<!-- windows-guide:start -->\n"
  "## One\n"
  "| message | meaning |\n"
  "|---|---|\n"
  "| `Done; [a]\\b` | first |\n"
  "| `Press Enter` | both programs |\n"
  "| `Done; [a]\\b` | again |\n"
  "\n"
  "| status | when |\n"
  "|---|---|\n"
  "| 1 | first |\n"
  "| 1 | again |\n"
  "\n"
  "**Alone.** A paragraph.\n"
  "| 1 | a row astray |\n"
  "\n"
  "**Alone.** Again.\n"
  "## Two\n"
  "**Messages you may see.**\n"
  "\n"
  "- `Press Enter`: both programs\n"
  "- `Folder name too long: ...`: first\n"
  "- `Folder name too long: ...`: again\n"
  "\n"
  "**Example.**\n"
  "- `Folder name too long: ...` in an example\n"
  "\n"
  "**Alone.** In another part.\n"
  "<!-- windows-guide:end -->\n")
messages_described_twice(${WORK_DIR}/twice.md twice)
set(expected_twice "\n  '`Done; [a]\\b`' (lines 5 and 7)\n  '1' (lines 11 and 12)")
string(APPEND expected_twice "\n  a table row outside any table (line 15)")
string(APPEND expected_twice "\n  '**Alone.**' (lines 14 and 17)")
string(APPEND expected_twice "\n  'Folder name too long: ...' (lines 22 and 23)")
if(NOT twice STREQUAL expected_twice)
  message(SEND_ERROR "messages described twice in the sample, found:${twice}\n"
                     "expected:${expected_twice}")
endif()

# ---- The project's guide ------------------------------------------------------------------
messages_described_twice(${README} twice)
if(NOT twice STREQUAL "")
  message(SEND_ERROR "README.md's guide describes these twice, or out of place:${twice}")
endif()
make_text(${README} ${WORK_DIR}/README.txt)
if(NOT make_status EQUAL 0)
  message(FATAL_ERROR "README.md was refused: ${make_error}")
endif()
file(READ ${WORK_DIR}/README.txt guide_hex HEX)
string(REGEX REPLACE "(..)" "\\1 " bytes "${guide_hex}")
if(NOT bytes MATCHES "^ef bb bf ")
  message(SEND_ERROR "README.txt does not begin with a UTF-8 byte order mark")
endif()
if(bytes MATCHES "(^|[1-9a-f]. |0[0-9a-ce-f] )0a ")
  message(SEND_ERROR "README.txt has a line end without CR")
endif()
file(READ ${WORK_DIR}/README.txt guide)
# What the guide must tell: where the programs and MASadelic.exe go, the job list format
# with its example, Pelmora's dialogue with an example, the messages of both programs.
foreach(needed
    "car-tools-9.8.7-win32.zip" "MASadelic.exe" "Zandrel.LST"
    "OLD_MAS;NEW_MAS;BMP1 BMP2 ...;NEW_BMP1 NEW_BMP2 ...;options"
    "1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d"
    "ref dir : " "new dir : " "DescClass=GT" "Go on? (Y or yes to go on, anything else to stop) : "
    "Stopped: nothing changed." "car.veh.pelmora"
    "MASadelic.exe required" "Work folder too long (245 characters at most)"
    "Program path too long (259 characters at most)" "Skipped ...: the path is too long"
    "Press Enter to close this window." "What's new")
  string(FIND "${guide}" "${needed}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "README.txt lacks '${needed}'")
  endif()
endforeach()
# It speaks to Windows users only.
foreach(dropped "<!--" "`" "**" "make test" "Linux" "Ctrl-D")
  string(FIND "${guide}" "${dropped}" at)
  if(NOT at EQUAL -1)
    message(SEND_ERROR "README.txt holds '${dropped}'")
  endif()
endforeach()
