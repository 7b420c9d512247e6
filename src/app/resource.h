// Resource identifiers of the Windows updater (mubax-updater.exe), shared by updater.rc and the
// dialog code. Plain macros, because the resource compiler reads this file too.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_PROGRESS 1002
