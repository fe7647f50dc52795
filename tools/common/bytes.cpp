#include "tools/common/bytes.h"

#ifdef _WIN32
#include <string.h>
#include <windows.h>
#else
#include <iconv.h>
#endif

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

std::string HexBytes(const std::string& bytes) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += DIGITS[c >> 4];
    hex += DIGITS[c & 15];
  }
  return hex;
}

#ifdef _WIN32

namespace {

UINT CodePage(const char* name) { return strcmp(name, "CP932") == 0 ? 932u : CP_UTF8; }

}  // namespace

// The system's own converters.  A character with no form in the target is
// refused, never replaced by a look-alike or a question mark.
bool ConvertText(const std::string& text, const char* from, const char* to, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  UINT source = CodePage(from), target = CodePage(to);
  int n = MultiByteToWideChar(source, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), NULL, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(source, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], n);
  BOOL usedDefault = FALSE;
  BOOL* lossy = target == CP_UTF8 ? NULL : &usedDefault;
  DWORD flags = target == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int m = WideCharToMultiByte(target, flags, wide.data(), n, NULL, 0, NULL, lossy);
  if (m <= 0 || usedDefault) return false;
  out->assign(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(target, flags, wide.data(), n, &(*out)[0], m, NULL, lossy);
  return !usedDefault;
}

#else

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

#endif
