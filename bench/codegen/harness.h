/* The C side of a codegen kernel: each kernel file defines result[] (what
   is compared with the Forth program's), init() (untimed set-up) and,
   unless BASELINE is defined, kernel() (the timed work). */
#include <stdint.h>

void init(void);
void kernel(void) __attribute__((noinline));
