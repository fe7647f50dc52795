// What differs between mkupdate on Linux and on Windows, behind one small
// seam: files named by their UTF-8 paths, the temporary file that replaces
// the output whole, the handle the updater's own lookup reads, and the
// program's arguments, handed on in UTF-8.  Text between
// UTF-8 and code page 932 is converted by ConvertText (tools/common).
//   tool_os_posix.cpp: POSIX calls, over the host platform's files.
//   tool_os_win32.cpp: the wide Win32 calls, for mkupdate.exe.
#ifndef MKUPDATE_TOOL_OS_H
#define MKUPDATE_TOOL_OS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

struct ToolFile;

// Opens a file to read; null with *error ("PATH: reason") when it cannot.
ToolFile* ToolOpenRead(const std::string& path, std::string* error);
// The open file's size, and whether it is an ordinary file.
bool ToolFileInfo(ToolFile* file, uint64_t* size, bool* regular);
// Reads exactly count bytes, or returns false.
bool ToolRead(ToolFile* file, void* buffer, size_t count);
// Closes a file opened to read, or a temporary file abandoned.
void ToolClose(ToolFile* file);

// A new temporary file beside out, removed should the program be
// interrupted; null with *error when it cannot be made.
ToolFile* ToolCreateTemp(const std::string& out, std::string* error);
// Writes all count bytes; false with *error ("OUT: writing: reason").
bool ToolWrite(ToolFile* temp, const void* data, size_t count, const std::string& out, std::string* error);
// Ends a temporary file: when ok, flushed to the disk and put in place of
// out in one step (an existing out is replaced, never left half-written);
// otherwise, or when that fails, removed.  Returns whether out was written.
bool ToolFinishTemp(ToolFile* temp, const std::string& out, bool ok, std::string* error);

// The archive opened for the updater's own lookup, as the platform's
// handle (INVALID_HANDLE_VALUE when it cannot be opened): the same access,
// sharing and flags the updater uses.
HANDLE ToolOpenArchive(const std::string& path);

// The last component of a path, as the system separates them.
std::string ToolBareName(const std::string& path);

// The arguments after the program's name, in UTF-8: Windows hands them
// over as UTF-16 (wmain), so file names in any language arrive whole.
#ifdef _WIN32
std::vector<std::string> ToolArguments(int argc, wchar_t** argv);
#else
std::vector<std::string> ToolArguments(int argc, char** argv);
#endif

#endif
