// Ids shared by keymend.rc and the application code.
#ifndef KEYMEND_RES_RESOURCE_IDS_H_
#define KEYMEND_RES_RESOURCE_IDS_H_

// The Japanese template is IDD_MAIN + 100; the program derives it at run time.
#define IDD_MAIN 2001
#define IDC_YEAR_LINE 101
#define IDC_MESSAGE 103

#endif  // KEYMEND_RES_RESOURCE_IDS_H_
