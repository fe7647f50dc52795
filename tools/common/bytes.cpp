#include "tools/common/bytes.h"

#include <iconv.h>

void PutLittle32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string Little32Bytes(uint32_t value) {
  std::string bytes;
  PutLittle32(&bytes, value);
  return bytes;
}

uint32_t Little32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool ConvertText(const std::string& text, const char* from, const char* to, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = text;
  std::string converted(in.size() * 4 + 4, '\0');
  char* src = &in[0];
  size_t srcLeft = in.size();
  char* dst = &converted[0];
  size_t dstLeft = converted.size();
  bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  converted.resize(converted.size() - dstLeft);
  *out = converted;
  return ok;
}
