#pragma once
// Resource and control ids of qxupdate.rc, and the one place their numbers are
// written: the script includes this file, and the dialog logic in ui/ takes its
// template, control, menu and timer ids from it. Plain #define lines only, as the
// resource compiler reads nothing else.

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102
#define IDD_TERMS 131
#define IDD_WARNING 132
#define IDD_CANCEL 133
#define IDD_CANCELJ 134
#define IDD_WARNINGJ 135
#define IDD_END 136
#define IDD_ENDJ 137
#define IDD_START 138
#define IDD_STARTJ 139
#define IDD_REBOOT 140
#define IDD_REBOOTJ 141

// Icon, menu.
#define IDR_MAINFRAME 128
#define IDR_MAINMENU 129
#define IDM_ABOUT 32772

// Strings. 101 is the system-menu item; 102 to 114 only name the text controls of
// the message dialogs and are never loaded.
#define IDS_ABOUTBOX 101

// Text controls of the message dialogs (one per template).
#define IDC_WARNING 102
#define IDC_REBOOT 105
#define IDC_REBOOTJ 106
#define IDC_WARNINGJ 108
#define IDC_CANCEL 109
#define IDC_CANCELJ 110
#define IDC_END 111
#define IDC_ENDJ 112
#define IDC_START 113
#define IDC_STARTJ 114

// Main dialog controls.
#define IDC_NOTES 103
#define IDC_TARGET 104
#define IDC_NOWSTATUS 115
#define IDC_DRIVELIST 1000
#define IDC_CURRENTVERSION 1004
#define IDC_IMAGEVERSION 1005
#define IDC_UPDATESTART 1006
#define IDC_CANCELBUTTON 1007
// The hidden edit inside the hidden "Update Firmware Ver." group box; the template
// keeps it for its layout, nothing writes it.
#define IDC_UPDATEFIRMVERSION 1008
#define IDC_UNUSED1010 1010
#define IDC_UNUSED1011 1011
#define IDC_PROGRESS 1012

// The main dialog's timers (not controls, kept with the ids they must not clash
// with): the update's monitor, and the wait for a worker that outlived its time-out.
#define IDT_MONITOR 107
#define IDT_WORKERWAIT 108

// Terms dialog: buttons 1 (Agree) and 2 (Not Agree), the text in 1004.
#define IDC_TERMSTEXT 1004

// About box: the model text in 1005, the (empty, hidden) firmware version in 1004.
#define IDC_ABOUTFIRMVERSION 1004
#define IDC_ABOUTMODEL 1005
// ... and where the update log is kept in 1013.
#define IDC_ABOUTLOG 1013

// The Reboot confirmation's CANCEL button.
#define IDC_REBOOTCANCEL 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The system-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010
