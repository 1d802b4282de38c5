# Runs the port of the Forth-2012 test suite on one device, in 16-bit
# cells: each file of this folder but common.4th is built after
# common.4th as one program with mirtolanc --test. A file whose first line
# says it needs a UART is skipped, with the reason, on a device without one.
#
#   cmake -DMIRTOLANC=EXE -DDEVICE=NAME [-DUART=OFF] [-DTIME=5s] [-DOPT=ON] -P RunSuite.cmake
#
# OPT=ON builds optimised (mirtolanc --opt).
#
# Fails when a test of any file fails or a file does not build.
foreach(required MIRTOLANC DEVICE)
  if(NOT ${required})
    message(FATAL_ERROR "RunSuite.cmake needs -D${required}=...")
  endif()
endforeach()
if(NOT DEFINED UART)
  set(UART ON)
endif()
# Long enough for the output tests, which wait for UART0 at 9600 baud.
if(NOT TIME)
  set(TIME 5s)
endif()
set(optimise "")
if(OPT)
  set(optimise --opt)
endif()

get_filename_component(dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
file(GLOB files RELATIVE "${dir}" "${dir}/*.4th")
list(REMOVE_ITEM files common.4th)
list(SORT files)

set(failed "")
set(passed 0)
set(skipped 0)
foreach(name IN LISTS files)
  file(STRINGS "${dir}/${name}" first LIMIT_COUNT 1)
  if(first MATCHES "^\\\\\\\\ needs a UART" AND NOT UART)
    message("# SKIP ${name}: its tests need a UART, which the ${DEVICE} lacks")
    math(EXPR skipped "${skipped} + 1")
    continue()
  endif()
  execute_process(
    COMMAND "${MIRTOLANC}" --device ${DEVICE} --cells 16 ${optimise} --time ${TIME} --test common.4th ${name}
    WORKING_DIRECTORY "${dir}"
    RESULT_VARIABLE status OUTPUT_VARIABLE tap ERROR_VARIABLE err)
  message("# ${name}\n${tap}${err}")
  string(REGEX MATCHALL "(^|\n)ok [0-9]+" oks "${tap}")
  list(LENGTH oks count)
  math(EXPR passed "${passed} + ${count}")
  if(NOT status EQUAL 0)
    list(APPEND failed ${name})
  endif()
endforeach()

list(LENGTH files total)
message("# ${DEVICE}: ${passed} tests passed in ${total} files, ${skipped} skipped")
if(failed)
  message(FATAL_ERROR "the Forth-2012 tests failed on the ${DEVICE} in: ${failed}")
endif()
