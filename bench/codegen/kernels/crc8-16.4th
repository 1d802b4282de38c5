\\ CRC-8 (polynomial $07, from 0) of 32 bytes
VARIABLE result
VARIABLE data ALLOT 30
: init 32 0 DO I 7 * 1+ data I + C! LOOP ;
\\ ---- kernel
: crcbyte ( crc c -- crc ) XOR 8 0 DO DUP 128 AND IF 2* 7 XOR ELSE 2* THEN 255 AND LOOP ;
: kernel 0 data 32 + data DO I C@ crcbyte LOOP result C! ;
