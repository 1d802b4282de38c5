\\ Core tests (core.fr): /MOD / MOD */ */MOD, checked against SM/REM:
\\ this Forth's division is symmetric (truncated toward 0), so of the
\\ suite's two sets of reference words (IFFLOORED, IFSYM, chosen by an
\\ interpreted test) these are the symmetric ones.
: T/MOD  >R S>D R> SM/REM ;
: T/     T/MOD SWAP DROP ;
: TMOD   T/MOD DROP ;
: T*/MOD >R M* R> SM/REM ;
: T*/    T*/MOD SWAP DROP ;

\\ TESTING DIVIDE: */ */MOD / /MOD MOD
: test-slash-mod
  T{ 0 1 /MOD -> 0 1 T/MOD }T
  T{ 1 1 /MOD -> 1 1 T/MOD }T
  T{ 2 1 /MOD -> 2 1 T/MOD }T
  T{ -1 1 /MOD -> -1 1 T/MOD }T
  T{ -2 1 /MOD -> -2 1 T/MOD }T
  T{ 0 -1 /MOD -> 0 -1 T/MOD }T
  T{ 1 -1 /MOD -> 1 -1 T/MOD }T
  T{ 2 -1 /MOD -> 2 -1 T/MOD }T
  T{ -1 -1 /MOD -> -1 -1 T/MOD }T
  T{ -2 -1 /MOD -> -2 -1 T/MOD }T
  T{ 2 2 /MOD -> 2 2 T/MOD }T
  T{ -1 -1 /MOD -> -1 -1 T/MOD }T
  T{ -2 -2 /MOD -> -2 -2 T/MOD }T
  T{ 7 3 /MOD -> 7 3 T/MOD }T
  T{ 7 -3 /MOD -> 7 -3 T/MOD }T
  T{ -7 3 /MOD -> -7 3 T/MOD }T
  T{ -7 -3 /MOD -> -7 -3 T/MOD }T
  T{ MAX-INT 1 /MOD -> MAX-INT 1 T/MOD }T
  T{ MIN-INT 1 /MOD -> MIN-INT 1 T/MOD }T
  T{ MAX-INT MAX-INT /MOD -> MAX-INT MAX-INT T/MOD }T
  T{ MIN-INT MIN-INT /MOD -> MIN-INT MIN-INT T/MOD }T ;

: test-slash
  T{ 0 1 / -> 0 1 T/ }T
  T{ 1 1 / -> 1 1 T/ }T
  T{ 2 1 / -> 2 1 T/ }T
  T{ -1 1 / -> -1 1 T/ }T
  T{ -2 1 / -> -2 1 T/ }T
  T{ 0 -1 / -> 0 -1 T/ }T
  T{ 1 -1 / -> 1 -1 T/ }T
  T{ 2 -1 / -> 2 -1 T/ }T
  T{ -1 -1 / -> -1 -1 T/ }T
  T{ -2 -1 / -> -2 -1 T/ }T
  T{ 2 2 / -> 2 2 T/ }T
  T{ -1 -1 / -> -1 -1 T/ }T
  T{ -2 -2 / -> -2 -2 T/ }T
  T{ 7 3 / -> 7 3 T/ }T
  T{ 7 -3 / -> 7 -3 T/ }T
  T{ -7 3 / -> -7 3 T/ }T
  T{ -7 -3 / -> -7 -3 T/ }T
  T{ MAX-INT 1 / -> MAX-INT 1 T/ }T
  T{ MIN-INT 1 / -> MIN-INT 1 T/ }T
  T{ MAX-INT MAX-INT / -> MAX-INT MAX-INT T/ }T
  T{ MIN-INT MIN-INT / -> MIN-INT MIN-INT T/ }T ;

: test-mod
  T{ 0 1 MOD -> 0 1 TMOD }T
  T{ 1 1 MOD -> 1 1 TMOD }T
  T{ 2 1 MOD -> 2 1 TMOD }T
  T{ -1 1 MOD -> -1 1 TMOD }T
  T{ -2 1 MOD -> -2 1 TMOD }T
  T{ 0 -1 MOD -> 0 -1 TMOD }T
  T{ 1 -1 MOD -> 1 -1 TMOD }T
  T{ 2 -1 MOD -> 2 -1 TMOD }T
  T{ -1 -1 MOD -> -1 -1 TMOD }T
  T{ -2 -1 MOD -> -2 -1 TMOD }T
  T{ 2 2 MOD -> 2 2 TMOD }T
  T{ -1 -1 MOD -> -1 -1 TMOD }T
  T{ -2 -2 MOD -> -2 -2 TMOD }T
  T{ 7 3 MOD -> 7 3 TMOD }T
  T{ 7 -3 MOD -> 7 -3 TMOD }T
  T{ -7 3 MOD -> -7 3 TMOD }T
  T{ -7 -3 MOD -> -7 -3 TMOD }T
  T{ MAX-INT 1 MOD -> MAX-INT 1 TMOD }T
  T{ MIN-INT 1 MOD -> MIN-INT 1 TMOD }T
  T{ MAX-INT MAX-INT MOD -> MAX-INT MAX-INT TMOD }T
  T{ MIN-INT MIN-INT MOD -> MIN-INT MIN-INT TMOD }T ;

: test-star-slash
  T{ 0 2 1 */ -> 0 2 1 T*/ }T
  T{ 1 2 1 */ -> 1 2 1 T*/ }T
  T{ 2 2 1 */ -> 2 2 1 T*/ }T
  T{ -1 2 1 */ -> -1 2 1 T*/ }T
  T{ -2 2 1 */ -> -2 2 1 T*/ }T
  T{ 0 2 -1 */ -> 0 2 -1 T*/ }T
  T{ 1 2 -1 */ -> 1 2 -1 T*/ }T
  T{ 2 2 -1 */ -> 2 2 -1 T*/ }T
  T{ -1 2 -1 */ -> -1 2 -1 T*/ }T
  T{ -2 2 -1 */ -> -2 2 -1 T*/ }T
  T{ 2 2 2 */ -> 2 2 2 T*/ }T
  T{ -1 2 -1 */ -> -1 2 -1 T*/ }T
  T{ -2 2 -2 */ -> -2 2 -2 T*/ }T
  T{ 7 2 3 */ -> 7 2 3 T*/ }T
  T{ 7 2 -3 */ -> 7 2 -3 T*/ }T
  T{ -7 2 3 */ -> -7 2 3 T*/ }T
  T{ -7 2 -3 */ -> -7 2 -3 T*/ }T
  T{ MAX-INT 2 MAX-INT */ -> MAX-INT 2 MAX-INT T*/ }T
  T{ MIN-INT 2 MIN-INT */ -> MIN-INT 2 MIN-INT T*/ }T ;

: test-star-slash-mod
  T{ 0 2 1 */MOD -> 0 2 1 T*/MOD }T
  T{ 1 2 1 */MOD -> 1 2 1 T*/MOD }T
  T{ 2 2 1 */MOD -> 2 2 1 T*/MOD }T
  T{ -1 2 1 */MOD -> -1 2 1 T*/MOD }T
  T{ -2 2 1 */MOD -> -2 2 1 T*/MOD }T
  T{ 0 2 -1 */MOD -> 0 2 -1 T*/MOD }T
  T{ 1 2 -1 */MOD -> 1 2 -1 T*/MOD }T
  T{ 2 2 -1 */MOD -> 2 2 -1 T*/MOD }T
  T{ -1 2 -1 */MOD -> -1 2 -1 T*/MOD }T
  T{ -2 2 -1 */MOD -> -2 2 -1 T*/MOD }T
  T{ 2 2 2 */MOD -> 2 2 2 T*/MOD }T
  T{ -1 2 -1 */MOD -> -1 2 -1 T*/MOD }T
  T{ -2 2 -2 */MOD -> -2 2 -2 T*/MOD }T
  T{ 7 2 3 */MOD -> 7 2 3 T*/MOD }T
  T{ 7 2 -3 */MOD -> 7 2 -3 T*/MOD }T
  T{ -7 2 3 */MOD -> -7 2 3 T*/MOD }T
  T{ -7 2 -3 */MOD -> -7 2 -3 T*/MOD }T
  T{ MAX-INT 2 MAX-INT */MOD -> MAX-INT 2 MAX-INT T*/MOD }T
  T{ MIN-INT 2 MIN-INT */MOD -> MIN-INT 2 MIN-INT T*/MOD }T ;
