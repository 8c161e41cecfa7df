# Checks the archives that `make release` wrote: each holds exactly car-tools-<version>/ with
# the two programs, README.txt and LICENSE.txt; the programs carry no debug sections or
# symbol tables; the Windows programs import only KERNEL32.dll and msvcrt.dll and carry the
# application manifest.
# cmake -DDIST=dist -DWORK_DIR=build/release-check -DMINGW_OBJDUMP=... -DOBJDUMP=...
#       -DIMPORTS_CHECK=tests/check_imports.sh -P check_release.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/check_manifest.cmake)

get_filename_component(DIST ${DIST} ABSOLUTE)
get_filename_component(WORK_DIR ${WORK_DIR} ABSOLUTE)

# Unpacks the one archive matching pattern into WORK_DIR/name and checks its entries.
# Sets folder to the unpacked car-tools-<version> folder.
function(unpack pattern name programs)
  file(GLOB archives ${DIST}/${pattern})
  list(LENGTH archives count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${DIST}: ${count} archives match ${pattern}, not one")
  endif()
  set(target ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${target})
  file(MAKE_DIRECTORY ${target})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${archives} WORKING_DIRECTORY ${target}
                  RESULT_VARIABLE status)
  file(GLOB top RELATIVE ${target} ${target}/*)
  if(NOT status EQUAL 0 OR NOT top MATCHES "^car-tools-[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "${archives}: holds '${top}', not one car-tools-<version> folder")
  endif()
  file(GLOB entries RELATIVE ${target}/${top} ${target}/${top}/*)
  list(SORT entries)
  set(expected LICENSE.txt ${programs} README.txt)
  list(SORT expected)
  if(NOT entries STREQUAL expected)
    message(FATAL_ERROR "${archives}: holds '${entries}', not '${expected}'")
  endif()
  set(folder ${target}/${top} PARENT_SCOPE)
  message(STATUS "${archives}: ${top}/ with ${entries}")
endfunction()

# Fails when a program has a debug section or a symbol table.
function(check_stripped objdump program)
  execute_process(COMMAND ${objdump} -h ${program} OUTPUT_VARIABLE sections
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR sections MATCHES "[ \t]\\.(debug|symtab|stab)")
    message(FATAL_ERROR "${program}: not stripped (or unreadable)")
  endif()
endfunction()

unpack("car-tools-*-win32.zip" win32 "Pelmora.exe;Zandrel.exe")
foreach(program Zandrel.exe Pelmora.exe)
  check_stripped(${MINGW_OBJDUMP} ${folder}/${program})
  check_manifest(${MINGW_OBJDUMP} ${folder}/${program} ${CMAKE_CURRENT_LIST_DIR}/program.manifest
                 why)
  if(NOT why STREQUAL "")
    message(FATAL_ERROR "${program}: ${why}")
  endif()
endforeach()
execute_process(COMMAND sh ${IMPORTS_CHECK} ${MINGW_OBJDUMP} ${folder}/Zandrel.exe
                        ${folder}/Pelmora.exe RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Windows programs import more than KERNEL32.dll and msvcrt.dll")
endif()
file(READ ${folder}/README.txt readme HEX)
if(NOT readme MATCHES "0d0a$")
  message(FATAL_ERROR "README.txt in the zip has no CR LF line ends")
endif()

unpack("car-tools-*-linux-x86_64.tar.gz" linux "Pelmora;Zandrel")
foreach(program Zandrel Pelmora)
  check_stripped(${OBJDUMP} ${folder}/${program})
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "The release archives in ${DIST} are complete")
