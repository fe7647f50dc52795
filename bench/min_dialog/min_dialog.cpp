// The smallest dialog program, built like update.exe: the baseline of the
// start-to-dialog benchmark under Wine.  It shows its dialog and ends when
// the dialog is closed.
#include <windows.h>

namespace {

INT_PTR CALLBACK MinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (wParam == IDOK || wParam == IDCANCEL)) EndDialog(dialog, 0);
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(1), NULL, MinDialogProc, 0);
  return 0;
}
