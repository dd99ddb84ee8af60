/* Basic types shared by the plug-in contract and the UI runtime's C ABI.
 * Handles are opaque pointers of the machine's natural width; numbers are fixed 32-bit. */
#ifndef OVTYPES_H
#define OVTYPES_H

#include <stdint.h>

typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;

typedef struct OvWindowHandle_* HWND; /* a window or a control */
typedef struct OvMenuHandle_* HMENU;  /* a menu bar or a pop-up menu */

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define LOWORD(v) ((uint16_t)((uintptr_t)(v)&0xFFFF))
#define HIWORD(v) ((uint16_t)(((uintptr_t)(v) >> 16) & 0xFFFF))
#define MAKEWPARAM(lo, hi)                                                                         \
    ((WPARAM)(((uint32_t)(uint16_t)(lo)) | (((uint32_t)(uint16_t)(hi)) << 16)))

#endif
