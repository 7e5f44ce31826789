#pragma once
// Resource ids shared by lunder19.rc and the program.
#define IDI_APP 1
#define IDR_MAINMENU 100

#define IDM_FILE_EXIT 1001
#define IDM_HELP_ABOUT 1002
#define IDM_CALC_ESTIMATE 1003  // Ver2.0 only
