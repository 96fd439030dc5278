/* The adapter's USB descriptors at fixed places in code memory. The library finds the vendor and
   product IDs at 0x108 (the bytes 0x0D 0x1B 0x10 0x5F) and replaces them with the IDs the
   adapter had before the download, so that it comes back under the same identity. */
#include <stdint.h>

/* The declarations of the header would clash with the fixed addresses given here. */
#define DESCRIPTORS_DEFINED_HERE
#include "descriptors.h"

__code __at(DSCR_DEVICE) const uint8_t device_descriptor[DSCR_DEVICE_LENGTH] = {
    18,   0x01,           /* length, DEVICE */
    0x00, 0x02,           /* USB 2.0 */
    0x00, 0x00, 0x00, 64, /* control packet size */
    0x0D, 0x1B,           /* vendor ID 0x1B0D */
    0x10, 0x5F,           /* product ID 0x5F10 */
    0x00, 0x00,           /* release 0 */
    1,    2,    0,        /* manufacturer, product, no serial number */
    1};                   /* configurations */

__code __at(DSCR_QUALIFIER) const uint8_t qualifier_descriptor[DSCR_QUALIFIER_LENGTH] = {
    10, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 64, 1, 0};

/* At the other speed (full speed) the adapter offers its interface without endpoints. */
__code __at(DSCR_OTHER_SPEED) const uint8_t other_speed_descriptor[DSCR_OTHER_SPEED_LENGTH] = {
    9, 0x07, 18, 0, 1, 1,    0,    0x80, 50, /* one interface, value 1, bus powered, 100 mA */
    9, 0x04, 0,  0, 0, 0xFF, 0x00, 0x00, 0};

__code __at(DSCR_CONFIG) const uint8_t config_descriptor[DSCR_CONFIG_LENGTH] = {
    9,    0x02, 41,   0,    1,    1,    0,
    0x80, 250, /* one interface, value 1, bus powered, 500 mA */
    9,    0x04, 0,    0,    0,    0xFF, 0x00,
    0x00, 0, /* interface 0, alternate setting 0: no endpoints */
    9,    0x04, 0,    1,    2,    0xFF, 0x00,
    0x00, 0,                                /* alternate setting 1: two endpoints */
    7,    0x05, 0x04, 0x02, 0x00, 0x02, 0,  /* 0x04 bulk OUT, 512 bytes */
    7,    0x05, 0x88, 0x03, 0x00, 0x02, 1}; /* 0x88 interrupt IN, 512 bytes, interval 1 */

__code __at(DSCR_STRINGS) const uint8_t string_descriptors[DSCR_STRINGS_LENGTH] = {
    4,   0x03, 0x09, 0x04,                                                 /* English (US) */
    16,  0x03, 'M',  0,    'o', 0, 'r', 0, 'v', 0, 'a', 0, 'n', 0, 'e', 0, /* manufacturer */
    32,  0x03, 'V',  0,    'A', 0, 'R', 0, 'A', 0, 'R', 0, ' ', 0, 'C', 0, 'I', 0, /* product */
    '-', 0,    'B',  0,    'r', 0, 'i', 0, 'd', 0, 'g', 0, 'e', 0};
