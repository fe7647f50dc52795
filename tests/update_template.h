// The controls of the update dialog's template, for the host dialog model:
// ids and initial texts in template order.  The built executable's
// template itself is checked field by field by check_exe.py.
#ifndef UPDATER_TEST_UPDATE_TEMPLATE_H
#define UPDATER_TEST_UPDATE_TEMPLATE_H

#include "dialog/resource.h"
#include "platform/host/host_control.h"

const HostControl UPDATE_CONTROLS[] = {
    {IDOK, "update"},          {IDCANCEL, "quit"},     {IDC_STATIC, "current version"},
    {IDC_VERSION, "-----"},    {IDC_STATIC, "notice"}, {IDC_STATIC, "notice"},
    {IDC_STATIC, ""},          {IDC_STATIC, ""},       {IDC_STATIC, "install location"},
    {IDC_FOLDER, "Static"},    {IDC_STATIC, ""},
};
const size_t VERSION_CONTROL = 3;  // positions in UPDATE_CONTROLS
const size_t FOLDER_CONTROL = 9;

inline void DefineUpdateDialog() {
  HostDefineDialog(IDD_UPDATE, UPDATE_CONTROLS, sizeof UPDATE_CONTROLS / sizeof UPDATE_CONTROLS[0],
                   IDOK);
}

#endif
