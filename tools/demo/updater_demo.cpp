// Runs the updater's own WinMain on this machine, over the host platform:
// real files in the update folder and the install folder, the installation
// record in the host registry model, and a user who presses the update
// button.  Prints what the user would see and what the run left behind.
//
//   updater_demo UPDATE_DIR INSTALL_DIR [--version N] [--quit]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "dialog/update_template_host.h"
#include "driver/driver.h"
#include "platform/host/host_control.h"
#include "tools/mkupdate/archive_tool.h"

namespace {

const char KEY[] = "Software\\Lanternfly\\luminario";

// Texts of the program are code page 932; the terminal takes UTF-8.
std::string Utf8(const std::string& cp932) { return DisplayName(cp932); }

void ShowBox(const HostBox& box, void*) {
  printf("\n  +-- message box: %s%s\n", Utf8(box.caption).c_str(),
         box.owner ? " (over the dialog)" : "");
  printf("  | %s\n", Utf8(box.text).c_str());
  printf("  +-- [%s] -> %s\n", box.type == MB_OKCANCEL ? "OK] [Cancel" : "OK",
         box.answer == IDOK ? "OK" : "Cancel");
}

void ShowDialog(size_t input, void*) {
  if (input != 0) return;
  const HostDialogRun& run = HostDialogRuns().back();
  printf("\n  +-- dialog: %s\n", Utf8(g_updateTitle).c_str());
  printf("  | current version   %s\n", run.shownTexts[VERSION_CONTROL].c_str());
  printf("  | install location  %s\n", Utf8(run.shownTexts[FOLDER_CONTROL]).c_str());
  printf("  +-- [update] [quit]\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: updater_demo UPDATE_DIR INSTALL_DIR [--version N] [--quit]\n");
    return 2;
  }
  std::string updateDir = argv[1];
  std::string installDir = argv[2];
  long version = -1;
  bool quit = false;
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "--version") == 0 && i + 1 < argc) {
      version = strtol(argv[++i], nullptr, 10);
    } else if (strcmp(argv[i], "--quit") == 0) {
      quit = true;
    }
  }
  if (chdir(updateDir.c_str()) != 0) {
    perror(updateDir.c_str());
    return 1;
  }

  HostResetPlatform();
  HostRegSetValue(KEY, "InstallFolder", REG_SZ, installDir.c_str(),
                  static_cast<DWORD>(installDir.size() + 1));
  if (version >= 0) {
    DWORD v = static_cast<DWORD>(version);
    HostRegSetValue(KEY, "Version", REG_BINARY, &v, 4);
  }
  DefineUpdateDialog();
  HostScriptDialog({{quit ? HOST_INPUT_ESCAPE : HOST_INPUT_ENTER, 0, 0, 0}});
  HostSetBoxHook(ShowBox, nullptr);
  HostSetDialogHook(ShowDialog, nullptr);

  printf("running the updater in %s\n", updateDir.c_str());
  printf("installation record: InstallFolder=%s Version=%s\n", installDir.c_str(),
         version >= 0 ? std::to_string(version).c_str() : "(none)");
  printf("the user presses %s\n", quit ? "Escape" : "the update button");
  int code = WinMain(nullptr, nullptr, const_cast<LPSTR>(""), 1);

  DWORD type = 0;
  std::string bytes;
  printf("\nexit code %d\n", code);
  if (HostRegGetValue(KEY, "Version", &type, &bytes)) {
    printf("Version now: type %u, bytes", type);
    for (unsigned char c : bytes) printf(" %02X", c);
    printf("\n");
  } else {
    printf("Version now: (none)\n");
  }
  return code;
}
