# The Windows release as a user meets it: packs this build with CPack, unpacks the zip into a
# folder of Wine's C: drive whose path holds a space, and runs both programs from there.
# cmake -DCPACK=... -DCPACK_CONFIG=.../CPackConfig.cmake -DPACKAGE_DIR=... -DWINE=...
#       -DWINE_PREFIX=... -DVERSION=... -P unpack_test.cmake
cmake_minimum_required(VERSION 3.25)

set(FOLDER car-tools-${VERSION})
set(ZIP ${PACKAGE_DIR}/${FOLDER}-win32.zip)
# The test's own folder on C:, made afresh each run.
set(DRIVE_FOLDER "${WINE_PREFIX}/drive_c/Car Tools")
set(WINDOWS_FOLDER "C:\\Car Tools")

file(REMOVE_RECURSE ${PACKAGE_DIR} "${DRIVE_FOLDER}")
file(MAKE_DIRECTORY ${PACKAGE_DIR} "${DRIVE_FOLDER}")
execute_process(COMMAND ${CPACK} -G ZIP --config ${CPACK_CONFIG} -B ${PACKAGE_DIR}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT EXISTS ${ZIP})
  message(FATAL_ERROR "CPack made no ${ZIP} (${status}):\n${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY "${DRIVE_FOLDER}"
                RESULT_VARIABLE status)
file(GLOB unpacked RELATIVE "${DRIVE_FOLDER}" "${DRIVE_FOLDER}/*" "${DRIVE_FOLDER}/*/*")
list(SORT unpacked)
set(expected ${FOLDER} ${FOLDER}/LICENSE.txt ${FOLDER}/Pelmora.exe ${FOLDER}/README.txt
    ${FOLDER}/Zandrel.exe)
if(NOT status EQUAL 0 OR NOT unpacked STREQUAL expected)
  message(FATAL_ERROR "the zip holds '${unpacked}', not '${expected}'")
endif()

# Runs a program of the unpacked folder under Wine, in folder (a Unix path), with input.
function(run_unpacked program folder input)
  file(WRITE ${PACKAGE_DIR}/input.txt "${input}")
  execute_process(
    COMMAND env WINEDEBUG=-all WINEPREFIX=${WINE_PREFIX} WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=
            ${WINE} "${WINDOWS_FOLDER}\\${FOLDER}\\${program}"
    WORKING_DIRECTORY "${folder}" INPUT_FILE ${PACKAGE_DIR}/input.txt
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r" "" out "${out}")
  set(run_status ${status} PARENT_SCOPE)
  set(run_output "${out}" PARENT_SCOPE)
  set(run_error "${err}" PARENT_SCOPE)
endfunction()

# ---- Zandrel without a job list: banner, help text, exit status -1 ------------------------
run_unpacked(Zandrel.exe "${DRIVE_FOLDER}/${FOLDER}" "")
foreach(needed "version ${VERSION}" "Syntax of a job:"
               "          ex: 1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d\n")
  string(FIND "${run_output}" "${needed}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "Zandrel's output lacks '${needed}':\n${run_output}${run_error}")
  endif()
endforeach()
if(NOT run_status EQUAL 255)
  message(SEND_ERROR "Zandrel ended with ${run_status}, not -1 (255)")
endif()

# ---- Pelmora, answered with C:\ paths, rewrites a sample file ---------------------------
file(MAKE_DIRECTORY "${DRIVE_FOLDER}/ref" "${DRIVE_FOLDER}/new cars")
file(WRITE "${DRIVE_FOLDER}/ref/car.veh" "Name=ref\r\nDescFile=ref.txt\r\nDescClass=Sport\r\n")
file(WRITE "${DRIVE_FOLDER}/new cars/car.veh" "Name=new\r\nDescFile=new.txt\r\nMass=900\r\n")
run_unpacked(Pelmora.exe "${DRIVE_FOLDER}"
             "${WINDOWS_FOLDER}\\ref\n\"${WINDOWS_FOLDER}\\new cars\\\"\n")
file(READ "${DRIVE_FOLDER}/new cars/car.veh" updated HEX)
string(HEX "DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\nMass=900\r\n" expected_hex)
if(NOT updated STREQUAL expected_hex)
  message(SEND_ERROR "Pelmora left car.veh as hex ${updated}:\n${run_output}${run_error}")
endif()
string(FIND "${run_output}" "version ${VERSION}" at_banner)
string(FIND "${run_output}" "${WINDOWS_FOLDER}\\new cars\\car.veh\n" at_progress)
if(at_banner EQUAL -1 OR at_progress EQUAL -1 OR NOT run_status EQUAL 0)
  message(SEND_ERROR "Pelmora (${run_status}) said:\n${run_output}${run_error}")
endif()
file(REMOVE_RECURSE "${DRIVE_FOLDER}")
