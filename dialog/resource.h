// Resource ids of the update dialog, shared by the resource script and the
// dialog procedure.
#ifndef UPDATER_RESOURCE_H
#define UPDATER_RESOURCE_H

#define IDD_UPDATE 101
#define IDC_VERSION 1000
#define IDC_FOLDER 1001
#define IDC_STATIC (-1)

#endif
