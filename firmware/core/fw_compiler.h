/* Storage classes of the 8051 that the portable core names. The adapter program keeps its
   larger state in external RAM; compiled for the host the qualifiers vanish. */
#ifndef FW_COMPILER_H
#define FW_COMPILER_H

#include <stdint.h>

#ifdef __SDCC
#define FW_XDATA __xdata
#define FW_CODE __code
#else
#define FW_XDATA
#define FW_CODE
#endif

#endif
