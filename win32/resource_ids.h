#pragma once
// Ids shared by the resource script and the code: dialogs, controls, menu commands, icons.
// Plain #defines, since the resource compiler reads this file too.

// Icons: the program's own, and the folder tree's images (image i is icon IDI_FOLDER_FIRST + i).
#define IDI_APP 128
#define IDI_FOLDER_FIRST 200
#define FOLDER_IMAGE_COUNT 18

// The main dialog's background.
#define IDB_MAIN_BACKGROUND 137

// Dialogs.
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_DESTINATION 110
#define IDD_PROGRESS 111
#define IDD_FIND 112
#define IDD_VIEWER 113

// The main dialog's controls.
#define IDC_PATH_EDIT 1000
#define IDC_BROWSE 1001
#define IDC_NEXT_USER_MAILBOX 1002
#define IDC_MAILBOX_LIST 1003
#define IDC_FOLDER_TREE 1004
#define IDC_UNUSED_LABEL_1005 1005
#define IDC_UNUSED_EDIT_1006 1006
#define IDC_PATH_FRAME 1007
#define IDC_UNUSED_LABEL_1008 1008
#define IDC_PROGRESS 1009
#define IDC_STOP 1010
#define IDC_SELECT_MDB_LABEL 1011
#define IDC_SOURCE_PATH_LABEL 1012
#define IDC_UNUSED_GROUP_1013 1013
#define IDC_PROGRESS_FRAME 1014
#define IDC_CONVERT 1015
#define IDC_BACK_USER_MAILBOX 1016
#define IDC_MESSAGE_LIST 1024
#define IDC_NEXT 1025
#define IDC_SPLITTER 1026
#define IDC_STATUS_BAR 1030

// The About box's links.
#define IDC_WEB_LINK 1001
#define IDC_MAIL_LINK 1002
#define IDC_ABOUT_TITLE 1020

// The destination dialog.
#define IDC_DEST_EML 1101
#define IDC_DEST_MBOX 1102
#define IDC_DEST_MAILDIR 1103
#define IDC_DEST_IMAP 1104
#define IDC_DEST_FOLDER 1105
#define IDC_DEST_BROWSE 1106
#define IDC_DEST_NOTE 1107
#define IDC_DEST_PST 1108

// Convert's progress.
#define IDC_PROGRESS_LABEL 1111
#define IDC_PROGRESS_BAR 1112

// Find.
#define IDC_FIND_TEXT 1121
#define IDC_FIND_FROM 1122
#define IDC_FIND_SUBJECT 1123
#define IDC_FIND_AFTER 1124
#define IDC_FIND_BEFORE 1125
#define IDC_FIND_GO 1126
#define IDC_FIND_RESULTS 1127
#define IDC_FIND_STATUS 1128
#define IDC_FIND_OPEN 1129

// The message viewer.
#define IDC_VIEW_FROM 1141
#define IDC_VIEW_TO 1142
#define IDC_VIEW_DATE 1143
#define IDC_VIEW_SUBJECT 1144
#define IDC_VIEW_BODY 1145
#define IDC_VIEW_ATTACHMENTS 1146
#define IDC_VIEW_SAVE 1147
#define IDC_VIEW_BROWSER 1148
#define IDC_VIEW_NOTES 1149

// Menus and keys.
#define IDR_MAIN_MENU 300
#define IDR_ACCELERATORS 301
#define IDM_OPEN 57601
#define IDM_SAVE 32772
#define IDM_EXIT 32773
#define IDM_CONTENT 32774
#define IDM_ABOUT 32775
#define IDM_FIND 32776
#define IDM_ABOUT_SYSTEM 16
