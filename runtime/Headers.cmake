# Writes every device's 4thHead.asm into the build tree: the device's own part
# (4thDevice.inc in its folder), a marker line, then the text of 4thCore.inc,
# the start-up code and macros they share, so that a header copied beside a
# program still assembles on its own and tools that read the header see all
# its names.
#   cmake -DSOURCE=runtime -DSHARE=build/share/mirtolan -P Headers.cmake            writes the headers
#   cmake -DSOURCE=runtime -DSHARE=build/share/mirtolan -DCHECK=1 -P Headers.cmake  fails when one differs
cmake_minimum_required(VERSION 3.16)
if(NOT SOURCE OR NOT SHARE)
  message(FATAL_ERROR "Headers.cmake needs -DSOURCE=<the runtime folder> -DSHARE=<the share folder>")
endif()
get_filename_component(SOURCE ${SOURCE} ABSOLUTE)
get_filename_component(SHARE ${SHARE} ABSOLUTE)
# The line after which a header holds the shared text.
set(marker "; ==== shared by every device: 4thCore.inc from here on (cmake --build build --target headers)")
file(READ ${SOURCE}/4thCore.inc core)
file(GLOB parts RELATIVE ${SOURCE} ${SOURCE}/4thDevice.inc ${SOURCE}/*/4thDevice.inc)
if(NOT parts)
  message(FATAL_ERROR "${SOURCE} holds no 4thDevice.inc")
endif()
set(stale "")
foreach(part IN LISTS parts)
  file(READ ${SOURCE}/${part} own)
  # A whole header pasted over the own part would carry the shared text twice.
  string(FIND "${own}" "${marker}" at)
  if(NOT at LESS 0)
    message(FATAL_ERROR "${SOURCE}/${part} holds the line\n${marker}\nand what follows it; keep only the device's own part")
  endif()
  set(wanted "${own}${marker}\n${core}")
  string(REPLACE "4thDevice.inc" "4thHead.asm" header "${part}")
  set(header ${SHARE}/${header})
  if(CHECK)
    set(text "")
    if(EXISTS ${header})
      file(READ ${header} text)
    endif()
    if(NOT text STREQUAL wanted)
      list(APPEND stale ${header})
    endif()
  else()
    file(WRITE ${header}.tmp "${wanted}")
    file(RENAME ${header}.tmp ${header})
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "These headers differ from their 4thDevice.inc and 4thCore.inc; build the target headers: ${stale}")
endif()
