// Resource ids of VELMORA.EXE, which the console face's MAINDLG shares.
// Read by the resource compiler as well as by C++, so plain #defines only.
// The dialogs and icons go by their names (INITDLG, MAINDLG, MAINICON,
// TASKBARICON), which are not defined here so that they stay names.
#ifndef VELMORA_RESOURCE_H
#define VELMORA_RESOURCE_H

#define IDC_STATIC (-1)

// MAINDLG controls.
#define IDC_ECHO 101
#define IDC_DISCARD 102
#define IDC_DAYTIME 103
#define IDC_QUOTE 104
#define IDC_CHARGEN 105
#define IDC_TELNET 106
#define IDC_FRAME 107
#define IDC_STOP 108
#define IDC_RESTART 109
#define IDC_RUN_AS_SERVICE 110
#define IDC_APPLY 111
#define IDC_DISCARD_CHANGES 112
#define IDC_OPTIONS_FRAME 113
#define IDC_DNS 114
#define IDC_TIME 115
#define IDC_AUTO_START 116

// Texts of the Windows shell's own boxes.
#define IDS_SOCKET_ERROR 1
#define IDS_STARTUP_ERROR_CAPTION 2
#define IDS_NO_DIALOG 3
#define IDS_NO_SERVICE_PROCESS 4
#define IDS_COUNTERS_TIP 5

#endif
