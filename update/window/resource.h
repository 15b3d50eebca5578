// Resource identifiers of Update.exe.
#pragma once

#define IDR_MAINFRAME 128
#define IDB_BAR 130
#define IDB_BACKGROUND 131
#define IDD_UPDATE_DIALOG 102
#define IDC_CLOSE 1000
