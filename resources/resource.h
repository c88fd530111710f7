/* Resource ids, shared by the code and uninstal.rc. */
#ifndef KV_RESOURCE_H
#define KV_RESOURCE_H

/* Icon and bitmap */
#define IDI_APP              101
#define IDB_WIZARD           106

/* Dialog templates */
#define IDD_SHARED           104
#define IDD_WIZARD           106

/* Wizard controls */
#define IDC_NEXT             1
#define IDC_CANCEL           2
#define IDC_SELECT_ALL       3
#define IDC_SELECT_NONE      4
#define IDC_BACK             5
#define IDC_CHOICE1          1000
#define IDC_CHOICE2          1001
#define IDC_UPPER_TEXT       1002
#define IDC_LIST             1003
#define IDC_LOWER_TEXT       1004
#define IDC_PAGE_TITLE       1005
#define IDC_BAR_FRAME        3830
#define IDC_STATIC_LINE      65535   /* separator above the buttons */

/* Shared-file question */
#define IDC_SHARED_YES       1005
#define IDC_SHARED_NO        1006

/* Embedded restart program */
#define RT_RESTART_PROGRAM   300
#define IDR_RESTART_PROGRAM  30202

/* Message texts: string id = message number, 1 to 69. */
#define MSG_FIRST            1
#define MSG_LAST             69

/* What Windows and inventory tools read from the file */
#define IDR_MANIFEST         1       /* CREATEPROCESS_MANIFEST_RESOURCE_ID */
#define KV_VERSION_BINARY    1,0,0,0
#define KV_VERSION_TEXT      "1.0.0.0"

#endif
