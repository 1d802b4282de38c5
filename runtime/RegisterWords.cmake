# Writes a device's register words, an archive of their own, from avra's
# definitions of the device:
#   &NAME  ( -- addr )  the data address of the I/O register NAME
#   #NAME  ( -- mask )  the mask 1<<NAME of the register bit NAME
# The prefixes keep the words apart from avra's own names, which the
# assembler does not let a label take.
#
#   cmake -DDEFS=/usr/share/avra/m328Pdef.inc -DDEVICE=ATmega328P -DOUT=Device.arch -P RegisterWords.cmake
#
# With -DCELLS=16 the words push 16-bit cells: an address was pushed as two
# bytes, high first, which is one 16-bit cell already; a mask gets a high
# byte of 0.

cmake_minimum_required(VERSION 3.16)
if(NOT DEFS OR NOT DEVICE OR NOT OUT)
  message(FATAL_ERROR "RegisterWords.cmake needs -DDEFS=..., -DDEVICE=... and -DOUT=...")
endif()
file(STRINGS ${DEFS} lines)

# avra's files list the registers, then from this heading the bits of each,
# up to the lock bits.
set(bitsStart "BIT DEFINITIONS")
set(bitsEnd "LOCKSBITS")
# I/O space addresses below this are reached in data space 0x20 higher.
set(ioSpaceEnd 64)
set(ioToData 32)

set(maskHigh "")
if(CELLS EQUAL 16)
  set(maskHigh "\tclr\tFtmp1\n\tst\t-Y,Ftmp1\n")
endif()

set(part registers)
set(registerWords "")
set(bitWords "")
set(bitNames "")
foreach(line IN LISTS lines)
  if(line MATCHES "^; \\*+ ${bitsStart}")
    set(part bits)
  elseif(line MATCHES "^; \\*+ ${bitsEnd}")
    break()
  elseif(line MATCHES "^\\.equ[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z0-9_]+)")
    set(name ${CMAKE_MATCH_1})
    set(value ${CMAKE_MATCH_2})
    if(part STREQUAL registers AND value MATCHES "^0x[0-9a-fA-F]+$")
      math(EXPR address "${value}")
      set(offset "")
      if(address LESS ioSpaceEnd)
        set(offset "+${ioToData}")
      endif()
      string(APPEND registerWords
        "$ ( -- addr ) The data address of ${name}.\n"
        "$$ &${name}\n"
        "\tldi\tFtmp1,high(${name}${offset})\n\tst\t-Y,Ftmp1\n"
        "\tldi\tFtmp1,low(${name}${offset})\n\tst\t-Y,Ftmp1\n")
    elseif(part STREQUAL bits)
      # A bit is a number from 0 to 7, or another name for a bit already seen.
      set(isBit FALSE)
      if(value MATCHES "^[0-7]$")
        set(isBit TRUE)
      elseif(value IN_LIST bitNames)
        set(isBit TRUE)
      endif()
      if(isBit)
        list(APPEND bitNames ${name})
        string(APPEND bitWords
          "$ ( -- mask ) The mask of the bit ${name}.\n"
          "$$ #${name}\n"
          "${maskHigh}\tldi\tFtmp1,1<<${name}\n\tst\t-Y,Ftmp1\n")
      endif()
    endif()
  endif()
endforeach()

file(WRITE ${OUT}.tmp
  "; Register words of the ${DEVICE}, generated from ${DEFS}.\n"
  "; Read after the main archive when the device is chosen.\n$\n"
  "; ---- I/O registers of the ${DEVICE}\n"
  "${registerWords}$\n"
  "; ---- register bits of the ${DEVICE}\n"
  "${bitWords}$\n")
file(RENAME ${OUT}.tmp ${OUT})
