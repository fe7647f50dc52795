// mkupdate: makes, lists, extracts from and checks the update archive.
// Exit codes: 0 done, 1 refused or a problem found, 2 a usage error.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "delivery/apply.h"
#include "tools/common/bytes.h"
#include "tools/mkupdate/archive_tool.h"
#include "tools/mkupdate/tool_os.h"

namespace {

const char USAGE[] =
    "usage: mkupdate COMMAND [ARGS]\n"
    "  pack -o ARCHIVE [--layout long|short] FILE...  make an archive of FILEs\n"
    "  list [--json] ARCHIVE                           one row per entry, with flags\n"
    "  extract ARCHIVE NAME -o FILE                    what the updater takes for NAME\n"
    "  check ARCHIVE                                   preflight before shipping\n"
    "'mkupdate COMMAND --help' tells more.\n";

const char PACK_HELP[] =
    "usage: mkupdate pack -o ARCHIVE [--layout long|short] FILE...\n"
    "Writes an archive holding each FILE under its bare name, in the order given.\n"
    "--layout long (the default) stores names of up to 31 bytes; short, up to 15.\n"
    "Refuses, leaving no ARCHIVE behind: a file missing, unreadable or empty; a name\n"
    "too long, holding a backslash byte, or equal to another ignoring case; an archive\n"
    "past what 32-bit offsets and sizes address.  The archive is written to a\n"
    "temporary file and renamed into place.\n";

const char LIST_HELP[] =
    "usage: mkupdate list [--json] ARCHIVE\n"
    "Prints the layout, the entry count and a row per entry: index, name, offset,\n"
    "size, the bytes it takes in the file, and its flags:\n"
    "  shadowed   an earlier entry of the same name is found first\n"
    "  empty      size 0: the updater never opens it\n"
    "  past-end   its bytes are not wholly inside the file\n"
    "  no-nul     the name fills its field with no NUL: never found\n"
    "  backslash  the name holds the byte 0x5C: never found\n";

const char EXTRACT_HELP[] =
    "usage: mkupdate extract ARCHIVE NAME -o FILE\n"
    "Writes to FILE the bytes the updater takes for NAME from ARCHIVE, found by the\n"
    "updater's own lookup.  Fails, writing nothing, when it would find none or\n"
    "could not read the entry whole.\n";

const char CHECK_HELP[] =
    "usage: mkupdate check ARCHIVE\n"
    "Exits 0 only if every file of the update (patch110.dat, InstData.pak,\n"
    "Archive.ini) resolves to a non-empty entry wholly inside ARCHIVE, by the\n"
    "updater's own lookup; otherwise prints a line per problem and exits 1.\n"
    "The flags of 'list' are reported as warnings.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

int Usage(const char* help, const std::string& problem) {
  fprintf(stderr, "mkupdate: %s\n%s", problem.c_str(), help);
  return 2;
}

int Fail(const std::string& message) {
  fprintf(stderr, "mkupdate: %s\n", message.c_str());
  return 1;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* LayoutName(const ArchiveInfo& info) { return info.width == 32 ? "long" : "short"; }

std::string Describe(const EntryInfo& entry) {
  return "entry #" + std::to_string(entry.index) + " '" + DisplayName(entry.name) + "'";
}

// A warning for each flag of an entry, in the words of the flag's meaning.
std::vector<std::string> Warnings(const ArchiveInfo& info) {
  std::vector<std::string> lines;
  for (const EntryInfo& entry : info.entries) {
    if (entry.shadowedBy >= 0)
      lines.push_back(Describe(entry) + " is shadowed by entry #" +
                      std::to_string(entry.shadowedBy) + " of the same name");
    if (entry.empty) lines.push_back(Describe(entry) + " has size 0 and never opens");
    if (entry.outside)
      lines.push_back(Describe(entry) + " takes bytes " + std::to_string(entry.start) + ".." +
                      std::to_string(entry.end) + ", not wholly inside the file of " +
                      std::to_string(info.fileSize) + " bytes");
    if (entry.noNul) lines.push_back(Describe(entry) + " fills its name field with no NUL");
    if (entry.backslash) lines.push_back(Describe(entry) + " holds a backslash byte and is never found");
  }
  return lines;
}

int Pack(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return printf("%s", PACK_HELP), 0;
  std::string out;
  uint8_t format = FORMAT_LONG;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--layout" && i + 1 < args.size()) {
      std::string layout = args[++i];
      if (layout != "long" && layout != "short") return Usage(PACK_HELP, "unknown layout " + layout);
      format = layout == "long" ? FORMAT_LONG : FORMAT_SHORT;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return Usage(PACK_HELP, "unknown option " + args[i]);
    } else {
      files.push_back(args[i]);
    }
  }
  if (out.empty()) return Usage(PACK_HELP, "no output: -o ARCHIVE");
  if (files.empty()) return Usage(PACK_HELP, "no files to pack");
  std::string error;
  if (!PackArchive(out, format, files, &error)) return Fail(error);
  printf("%s: %zu files, %s layout\n", out.c_str(), files.size(), format == FORMAT_LONG ? "long" : "short");
  return 0;
}

int List(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return printf("%s", LIST_HELP), 0;
  bool json = false;
  std::string path;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (path.empty() && !(arg.size() > 1 && arg[0] == '-')) {
      path = arg;
    } else {
      return Usage(LIST_HELP, "unexpected " + arg);
    }
  }
  if (path.empty()) return Usage(LIST_HELP, "no archive");
  ArchiveInfo info;
  std::string error;
  if (!InspectArchive(path, &info, &error)) return Fail(error);
  if (json) {
    printf("{\"archive\": %s, \"layout\": \"%s\", \"format\": %u, \"nameWidth\": %u, "
           "\"entries\": %u, \"fileSize\": %llu, \"dataStart\": %llu, \"rows\": [",
           JsonString(path).c_str(), LayoutName(info), info.format, info.width, info.count,
           static_cast<unsigned long long>(info.fileSize),
           static_cast<unsigned long long>(info.dataStart));
    for (size_t i = 0; i < info.entries.size(); ++i) {
      const EntryInfo& e = info.entries[i];
      std::string flags;
      for (const std::string& flag : EntryFlags(e)) flags += (flags.empty() ? "" : ", ") + JsonString(flag);
      printf("%s\n  {\"index\": %u, \"name\": %s, \"nameHex\": \"%s\", \"offset\": %d, \"size\": %u, "
             "\"start\": %lld, \"end\": %lld, \"shadowedBy\": %lld, \"flags\": [%s]}",
             i ? "," : "", e.index, JsonString(DisplayName(e.name)).c_str(), HexBytes(e.name).c_str(),
             e.offset, e.size, static_cast<long long>(e.start), static_cast<long long>(e.end),
             static_cast<long long>(e.shadowedBy), flags.c_str());
    }
    printf("]}\n");
    return 0;
  }
  printf("%s: %s layout (byte 11 = 0x%02X, %u-byte names), %u entries, data from byte %llu, "
         "%llu bytes\n",
         path.c_str(), LayoutName(info), info.format, info.width, info.count,
         static_cast<unsigned long long>(info.dataStart),
         static_cast<unsigned long long>(info.fileSize));
  printf("%6s  %-32s %11s %10s  %-23s %s\n", "index", "name", "offset", "size", "[start, end)", "flags");
  for (const EntryInfo& e : info.entries) {
    std::string range = std::to_string(e.start) + ".." + std::to_string(e.end);
    std::string flags;
    for (const std::string& flag : EntryFlags(e)) flags += (flags.empty() ? "" : " ") + flag;
    printf("%6u  %-32s %11d %10u  %-23s %s\n", e.index, DisplayName(e.name).c_str(), e.offset,
           e.size, range.c_str(), flags.c_str());
  }
  return 0;
}

int Extract(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return printf("%s", EXTRACT_HELP), 0;
  std::vector<std::string> positional;
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2 || out.empty()) return Usage(EXTRACT_HELP, "expected ARCHIVE NAME -o FILE");
  // The updater looks names up in code page 932, as the archive holds them.
  std::string name;
  if (!ConvertText(positional[1], "UTF-8", "CP932", &name))
    return Fail(positional[1] + ": the name cannot be written in code page 932");
  std::string bytes;
  std::string error;
  if (!ReadArchiveEntry(positional[0], name, &bytes, &error)) return Fail(error);
  if (!WriteWhole(out, bytes, &error)) return Fail(error);
  printf("%s: %zu bytes\n", out.c_str(), bytes.size());
  return 0;
}

int Check(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return printf("%s", CHECK_HELP), 0;
  if (args.size() != 1) return Usage(CHECK_HELP, "expected one ARCHIVE");
  const std::string& path = args[0];
  ArchiveInfo info;
  std::string error;
  if (!InspectArchive(path, &info, &error)) return Fail(error);
  int problems = 0;
  for (int i = 0; g_sourceNames[i] != NULL; ++i) {
    std::string bytes;
    if (!ReadArchiveEntry(path, g_sourceNames[i], &bytes, &error)) {
      printf("problem: %s\n", error.c_str());
      ++problems;
    } else {
      printf("ok: %s, %zu bytes\n", g_sourceNames[i], bytes.size());
    }
  }
  for (const std::string& line : Warnings(info)) printf("warning: %s\n", line.c_str());
  if (problems) {
    printf("%s: %d of the update's files cannot be taken from it\n", path.c_str(), problems);
    return 1;
  }
  printf("%s: ready to ship\n", path.c_str());
  return 0;
}

int Run(const std::vector<std::string>& all) {
  if (all.empty()) return Usage(USAGE, "no command");
  const std::string& command = all[0];
  std::vector<std::string> args(all.begin() + 1, all.end());
  if (command == "--help" || command == "-h" || command == "help") return printf("%s", USAGE), 0;
  if (command == "pack") return Pack(args);
  if (command == "list") return List(args);
  if (command == "extract") return Extract(args);
  if (command == "check") return Check(args);
  return Usage(USAGE, "unknown command " + command);
}

}  // namespace

// Windows hands the arguments over in UTF-16, Linux as bytes; the tool
// takes them in UTF-8 either way (tool_os.h).
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(ToolArguments(argc, argv)); }
#else
int main(int argc, char** argv) { return Run(ToolArguments(argc, argv)); }
#endif
