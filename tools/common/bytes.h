// Byte-level helpers of the tools, the tests and the benchmarks (the
// updater reads its archive with its own code): little-endian numbers and
// conversion between text encodings.
#ifndef UPDATER_TOOLS_BYTES_H
#define UPDATER_TOOLS_BYTES_H

#include <stdint.h>

#include <string>

void PutLittle32(std::string* out, uint32_t value);
// The four bytes of value, least significant first.
std::string Little32Bytes(uint32_t value);
uint32_t Little32(const unsigned char* bytes);
// The bytes in lower-case hex, two digits a byte.
std::string HexBytes(const std::string& bytes);

// Converts text between "UTF-8" and "CP932": by iconv on Linux, by the
// system's own converters on Windows.  False when a character has no form
// in the target, or the input is not valid text.
bool ConvertText(const std::string& text, const char* from, const char* to, std::string* out);

#endif
