// Text operations and Sleep of the host platform.
#include <stdarg.h>
#include <string.h>
#include <time.h>

#include "host_internal.h"

bool HostIsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

unsigned HostFoldUnit(const unsigned char** text) {
  const unsigned char* p = *text;
  if (HostIsLeadByte(p[0]) && p[1] != 0) {
    *text = p + 2;
    unsigned unit = static_cast<unsigned>(p[0]) << 8 | p[1];
    if (unit >= 0x8260 && unit <= 0x8279) unit += 0x21;       // full-width A-Z
    else if (unit >= 0x839F && unit <= 0x83B6) unit += 0x20;  // Greek
    else if (unit >= 0x8440 && unit <= 0x844E) unit += 0x30;  // Cyrillic, before 0x847F
    else if (unit >= 0x844F && unit <= 0x8460) unit += 0x31;  // and after it
    return 0x10000u | unit;
  }
  *text = p + 1;
  return p[0] >= 'A' && p[0] <= 'Z' ? p[0] + ('a' - 'A') : p[0];
}

int HostCompareFolded(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
  for (;;) {
    if (*p == 0 || *q == 0) return (*p != 0) - (*q != 0);
    unsigned x = HostFoldUnit(&p);
    unsigned y = HostFoldUnit(&q);
    if (x != y) return x < y ? -1 : 1;
  }
}

// Equality as the Japanese locale gives it: letters of either case are
// one (ASCII, full-width, Greek, Cyrillic); width and kana type still
// count.  The order of unequal strings is by code and is not the system's
// linguistic order.
int lstrcmpiA(LPCSTR a, LPCSTR b) { return HostCompareFolded(a, b); }

// Like the Win32 call: %s, %c, %d, %u, %x and %% fields, at most 1024
// bytes of output with the NUL.  Returns the bytes stored before the NUL.
int wsprintfA(LPSTR out, LPCSTR format, ...) {
  const size_t LIMIT = 1024;
  va_list args;
  va_start(args, format);
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < LIMIT) out[n++] = c;
  };
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      put(*f);
      continue;
    }
    ++f;
    if (*f == 0) break;
    char digits[16];
    const char* field = digits;
    switch (*f) {
      case 's': {
        const char* s = va_arg(args, const char*);
        field = s ? s : "(null)";
        break;
      }
      case 'c':
        digits[0] = static_cast<char>(va_arg(args, int));
        digits[1] = 0;
        break;
      case 'd': {
        long v = va_arg(args, int);
        unsigned long mag = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        char tmp[16];
        int k = 0;
        do {
          tmp[k++] = static_cast<char>('0' + mag % 10);
          mag /= 10;
        } while (mag);
        int d = 0;
        if (v < 0) digits[d++] = '-';
        while (k) digits[d++] = tmp[--k];
        digits[d] = 0;
        break;
      }
      case 'u':
      case 'x': {
        unsigned v = va_arg(args, unsigned);
        unsigned base = *f == 'u' ? 10 : 16;
        char tmp[16];
        int k = 0;
        do {
          tmp[k++] = "0123456789abcdef"[v % base];
          v /= base;
        } while (v);
        int d = 0;
        while (k) digits[d++] = tmp[--k];
        digits[d] = 0;
        break;
      }
      default:
        digits[0] = *f;
        digits[1] = 0;
        break;
    }
    for (const char* s = field; *s; ++s) put(*s);
  }
  out[n] = 0;
  va_end(args);
  return static_cast<int>(n);
}

void Sleep(DWORD milliseconds) {
  struct timespec span;
  span.tv_sec = milliseconds / 1000;
  span.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&span, &span) != 0) {
  }
}
