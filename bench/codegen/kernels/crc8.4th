\\ CRC-8 (polynomial $07, from 0) of 32 bytes
VARIABLE result
VARIABLE data ALLOT 31
: init 32 0 DO I 7 * 1+ data I M+ C! LOOP ;
\\ ---- kernel
: crcbyte ( crc c -- crc ) XOR 8 0 DO DUP 128 AND IF 2* 7 XOR ELSE 2* THEN LOOP ;
: kernel 0 32 0 DO data I M+ C@ crcbyte LOOP result C! ;
