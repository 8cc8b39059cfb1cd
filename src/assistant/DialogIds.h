/* Resource and control identifiers of the assistant's two dialog templates, and the template
   of the assistant itself (Template102.def): read by the resource compiler and by C++ alike,
   so plain macros. */
#pragma once

#define IDD_ABOUT 100
#define IDS_ABOUT_ITEM 101
#define IDD_ASSISTANT 102
#define IDI_APP 128
#define IDB_CONNECTIONS 129
#define IDM_ABOUT 0x0010

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_IN_PORTS 1000
#define IDC_OUT_PORTS 1001
#define IDC_REFRESH 1002
#define IDC_VERIFY 1003
#define IDC_STATUS 1004
#define IDC_FIRMWARE_PATH 1005
#define IDC_BROWSE 1006
#define IDC_UPGRADE 1007
#define IDC_PROGRESS 1008
#define IDC_RESET 1009
#define IDC_STEP1 1010
#define IDC_STEP2 1011
#define IDC_STEP3 1012
#define IDC_STEP4 1013
#define IDC_STEP5 1014
#define IDC_STEP6 1015

/* String 101, the system menu's about item. */
#define ABOUT_ITEM_TEXT "&About VANTRO..."

/* The item beside it that looks for the unit on every port pair. */
#define IDM_FIND 0x0020
#define FIND_ITEM_TEXT "&Find the VANTRO unit"

/* Step 3, how the unit enters its bootloader: in the template and in what Find tells. */
#define STEP3_TEXT                                                                           \
    "Remove power from VANTRO, and then connect power again and immediately turn the Merge " \
    "switch up and down quickly a few times until all LED's flashing."

/* Template 100's own size (dialog units) and caption. */
#define ABOUT_WIDTH 170
#define ABOUT_HEIGHT 62
#define ABOUT_CAPTION "About VANTRO"

/* Template 102's own size (dialog units) and caption. */
#define ASSISTANT_WIDTH 665
#define ASSISTANT_HEIGHT 274
#define ASSISTANT_CAPTION "VANTRO Assistant V1.1"
