#include "dialog/update_dialog.h"

#include "delivery/apply.h"
#include "dialog/resource.h"

namespace {

const char COMPLETION_MESSAGE[] = "更新は完了しました。";
const char FAILURE_MESSAGE[] =
    "更新ファイル書き込みに失敗しました。ゲームが起動されている場合は、終了してから再度実行して下さい。";

void Initialise(HWND dialog) {
  char versionText[VERSION_TEXT_SIZE];
  FormatVersionText(g_installedVersion, versionText);
  SetWindowTextA(GetDlgItem(dialog, IDC_VERSION), versionText);
  SetWindowTextA(GetDlgItem(dialog, IDC_FOLDER), g_installFolder);
}

// The copy runs inside this call; its outcome box comes before the dialog
// ends, so the dialog stays on screen behind it.
void Update(HWND dialog) {
  if (ApplyUpdateFiles(dialog, g_installFolder)) {
    MessageBoxA(dialog, COMPLETION_MESSAGE, g_updateTitle, MB_OK);
    EndDialog(dialog, 1);
  } else {
    MessageBoxA(dialog, FAILURE_MESSAGE, g_updateTitle, MB_OK);
    EndDialog(dialog, 0);
  }
}

}  // namespace

void FormatVersionText(DWORD version, LPSTR text) {
  text[0] = version < 10000 ? static_cast<char>('0' + version / 1000) : '*';
  text[1] = '.';
  text[2] = static_cast<char>('0' + version % 1000 / 100);
  text[3] = static_cast<char>('0' + version % 100 / 10);
  text[4] = static_cast<char>('0' + version % 10);
  text[5] = 0;
}

// The message and wParam are compared whole: a command counts only with
// the notification code BN_CLICKED (0) in the high half, which is what a
// click, Enter, Escape and the caption's close command all deliver.
INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  if (message == WM_INITDIALOG) {
    Initialise(dialog);
  } else if (message == WM_COMMAND && wParam == IDOK) {
    Update(dialog);
  } else if (message == WM_COMMAND && wParam == IDCANCEL) {
    EndDialog(dialog, 0);
  }
  return FALSE;
}
