// Between the PC Card bus stand-in (cibus.sys, a kernel-mode image) and the card model DLL that
// it loads into the kernel-driver host: plain C types only, every function __stdcall, looked
// up by name (the DLL is linked with --kill-at, so the names are the same on x86 and x64).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// What the bus reports after a "card" command.
typedef struct _MORVANE_CARD_PLAN {
  unsigned long Cards;        // children the bus reports: 0, 1 or 2
  unsigned long Window;       // one of the MORVANE_WINDOW_ values
  unsigned long Port;         // first port number of a port window (the raw port range otherwise)
  unsigned long long Memory;  // physical start of a memory window
  unsigned long Length;       // window length in bytes (ports or memory bytes)
  wchar_t HardwareIds[256];   // the children's hardware IDs, a multi-string (two NULs at its end)
} MORVANE_CARD_PLAN;

#define MORVANE_WINDOW_PORT 0
#define MORVANE_WINDOW_MEMORY 1
#define MORVANE_WINDOW_PORT_AS_MEMORY 2

// The bus's own routine that takes the card away (it reports no child any more).
typedef void(__stdcall* MORVANE_CARD_UNPLUG)(void);

// Sets up a fresh card after the command text ("window=memory remove-at=20 ..."); 0 when the
// text is not understood (then `Reply` holds why).
typedef int(__stdcall* MORVANE_CARD_CONFIGURE)(const char* Command, MORVANE_CARD_PLAN* Plan,
                                               MORVANE_CARD_UNPLUG Unplug, char* Reply,
                                               unsigned long ReplySize);
// The bus has started child `Slot`, whose function driver has image `DriverImage` loaded: the
// model takes over the driver's window routines.
typedef void(__stdcall* MORVANE_CARD_STARTED)(unsigned long Slot, void* DriverImage);
// Child `Slot` has had its surprise removal.
typedef void(__stdcall* MORVANE_CARD_GONE)(unsigned long Slot);
// The card's counts and state as one line of text.
typedef void(__stdcall* MORVANE_CARD_STATUS)(char* Text, unsigned long Size);

#ifdef __cplusplus
}
#endif
