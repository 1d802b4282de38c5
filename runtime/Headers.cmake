# Every device's 4thHead.asm ends with the text of 4thCore.inc, the start-up
# code and macros they share, so that a header copied beside a program still
# assembles on its own and tools that read the header see all its names.
#   cmake -DSOURCE=runtime -P Headers.cmake            rewrites the headers
#   cmake -DSOURCE=runtime -DCHECK=1 -P Headers.cmake  fails when one differs
cmake_minimum_required(VERSION 3.16)
if(NOT SOURCE)
  message(FATAL_ERROR "Headers.cmake needs -DSOURCE=<the runtime folder>")
endif()
# The line after which a header holds the shared text.
set(marker "; ==== shared by every device: 4thCore.inc from here on (cmake --build build --target headers)")
file(READ ${SOURCE}/4thCore.inc core)
file(GLOB headers ${SOURCE}/4thHead.asm ${SOURCE}/*/4thHead.asm)
set(stale "")
foreach(header IN LISTS headers)
  file(READ ${header} text)
  string(FIND "${text}" "${marker}" at)
  if(at LESS 0)
    message(FATAL_ERROR "${header} lacks the line\n${marker}")
  endif()
  string(SUBSTRING "${text}" 0 ${at} own)
  set(wanted "${own}${marker}\n${core}")
  if(NOT text STREQUAL wanted)
    if(CHECK)
      list(APPEND stale ${header})
    else()
      file(WRITE ${header}.tmp "${wanted}")
      file(RENAME ${header}.tmp ${header})
    endif()
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "These headers differ from 4thCore.inc; run the build target headers: ${stale}")
endif()
