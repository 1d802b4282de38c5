: seven 7 ;
: twice seven seven ;
: letter 'A twice ;
HEX
: ten A seven ;
: oops frob ;
