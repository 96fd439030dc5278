/* Where the adapter's USB descriptors stand in code memory, and how long each is. */
#ifndef DESCRIPTORS_H
#define DESCRIPTORS_H

#include <stdint.h>

#define DSCR_DEVICE 0x100
#define DSCR_DEVICE_LENGTH 18
#define DSCR_QUALIFIER 0x114
#define DSCR_QUALIFIER_LENGTH 10
#define DSCR_OTHER_SPEED 0x120
#define DSCR_OTHER_SPEED_LENGTH 18
#define DSCR_CONFIG 0x134
#define DSCR_CONFIG_LENGTH 41
#define DSCR_STRINGS 0x15E
#define DSCR_STRINGS_LENGTH 52
/* The first byte after the descriptors; the program's code follows from here. */
#define DSCR_END 0x192

#ifndef DESCRIPTORS_DEFINED_HERE
extern __code const uint8_t device_descriptor[DSCR_DEVICE_LENGTH];
extern __code const uint8_t qualifier_descriptor[DSCR_QUALIFIER_LENGTH];
extern __code const uint8_t other_speed_descriptor[DSCR_OTHER_SPEED_LENGTH];
extern __code const uint8_t config_descriptor[DSCR_CONFIG_LENGTH];
extern __code const uint8_t string_descriptors[DSCR_STRINGS_LENGTH];
#endif

#endif
