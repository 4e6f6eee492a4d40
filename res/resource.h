// Identifiers of setup.exe's resources and private messages, shared by the resource script
// (setup.rc) and the C++ code. Plain #defines only: windres reads this file too.
#ifndef RES_RESOURCE_H
#define RES_RESOURCE_H

// Icon shown in the window and by the shell: a 32 x 32 and a 16 x 16 image, 16 colours each.
#define IDI_SETUP 1

// The setup window's dialog template and its controls.
#define IDD_SETUP 101
#define IDC_SETUP_ICON 1000
#define IDC_MESSAGE 1001
#define IDC_PROGRESS 1002
#define IDC_LINK 1003

// Pointing hand shown over the link label (cursor resource).
#define IDR_HANDCURSOR 1006

// Message catalogue (string table); the texts are in messages.h. Ids 1, 6 and 7 are not
// used.
#define IDS_TITLE 2
#define IDS_NEED_WIN32 3
#define IDS_NO_PACKAGE 4
#define IDS_CORRUPT_HEAD 5  // the whole corrupt-package template
// Id 6 held the corrupt-package message's tail until that message became one template; the
// name stays as another name of the template, and id 6 is free.
#define IDS_CORRUPT_TAIL IDS_CORRUPT_HEAD
#define IDS_NO_LIST 8
#define IDS_CANNOT_COPY 9
#define IDS_LIST_CORRUPT 10
#define IDS_CANNOT_RUN 11
#define IDS_NO_SPACE 12
#define IDS_NO_TEMP 13

// The only timer: the watch of the launched setup program, every 200 ms.
#define ID_WATCH_TIMER 15

// Sent to the progress bar: wParam is the new percentage, lParam 0. WM_USER + 50, spelled out
// because windres does not see <windows.h> when it reads this file on its own.
#define WM_SETPERCENT (0x0400 + 50)

#endif
