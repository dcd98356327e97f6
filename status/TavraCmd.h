/* The printer's status record, carried as base64 under the key "STS:" of its
 * IEEE 1284 device ID, and the codec that reads it. Usable from C and C++. */
#ifndef USBINK_STATUS_TAVRACMD_H
#define USBINK_STATUS_TAVRACMD_H

#include <stdint.h>

#define PRINTER_STATUS_SIZE 108

typedef struct PRINTER_STATUS {
  /* Bits 0-6: black toner left in percent; bit 7 is not ours to interpret. */
  unsigned char blackLevel;
  unsigned char otherStatus[PRINTER_STATUS_SIZE - 1];
} PRINTER_STATUS;

#ifdef __cplusplus
static_assert(sizeof(PRINTER_STATUS) == PRINTER_STATUS_SIZE, "the record is 108 raw bytes");
extern "C" {
#endif

/* Standard base64 alphabet (RFC 4648, section 4). */
extern const char* BASE64_CHARS;

/* Writes four characters for three bytes. */
void _base64_encode_triple(const unsigned char triple[3], char result[4]);
/* 0-63 for an alphabet character, -1 for any other byte ("=" included). */
int _base64_char_value(char base64char);
/* Bytes of one four-character group (0-3) written to result; 0 when malformed. */
int _base64_decode_triple(const char quadruple[4], unsigned char* result);

/* 1 with the NUL-terminated text in target; 0 (target untouched) when it
 * does not fit in targetlen bytes. */
int base64_encode(const unsigned char* source, unsigned int sourcelen, char* target,
                  unsigned int targetlen);
/* Bytes stored from the NUL-terminated source, skipping non-base64 bytes and
 * stopping after the first short or malformed group; -1 when a group does not
 * fit in the capacity left (earlier groups stay stored) or memory runs out. */
int base64_decode(const char* source, unsigned char* target, unsigned int targetlen);

/* Converts a little-endian 32-bit value in place to host order. */
void Big2LittleEndian(uint32_t* value);

/* 0 when status was filled from the device ID's "STS:" field, -1 otherwise. */
int DecodStatusFromDeviceID(const char* deviceId, PRINTER_STATUS* status);

#ifdef __cplusplus
}

class CTavraCmd {
 public:
  CTavraCmd() {}
  ~CTavraCmd() {}
  int DecodStatusFromDeviceID(char* deviceId, PRINTER_STATUS* status);
};
#endif

#endif
