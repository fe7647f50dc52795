// The update dialog's template (update.rc) as the host dialog model takes
// it: control ids and initial texts in template order, the default button
// IDOK.  The labels' Japanese texts are left out (they are never changed
// or read); the two texts the procedure replaces keep their placeholders,
// so a test sees whether they were replaced.  The built executable's
// template is checked field by field against update.rc by check_exe.py.
// For the host build's tests and demo only.
#ifndef UPDATER_UPDATE_TEMPLATE_HOST_H
#define UPDATER_UPDATE_TEMPLATE_HOST_H

#include "dialog/resource.h"
#include "platform/host/host_control.h"

const HostControl UPDATE_CONTROLS[] = {
    {IDOK, "update"},          {IDCANCEL, "quit"},     {IDC_STATIC, "current version"},
    {IDC_VERSION, "-----"},    {IDC_STATIC, "notice"}, {IDC_STATIC, "notice"},
    {IDC_STATIC, ""},          {IDC_STATIC, ""},       {IDC_STATIC, "install location"},
    {IDC_FOLDER, "Static"},    {IDC_STATIC, ""},
};
// Positions in UPDATE_CONTROLS, which are also positions in a
// HostDialogRun's shownTexts and finalTexts.
const size_t VERSION_CONTROL = 3;
const size_t FOLDER_CONTROL = 9;

inline void DefineUpdateDialog() {
  HostDefineDialog(IDD_UPDATE, UPDATE_CONTROLS, sizeof UPDATE_CONTROLS / sizeof UPDATE_CONTROLS[0],
                   IDOK);
}

#endif
