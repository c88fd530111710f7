// The wizard's selection lists: the lines of list pages 1 to 10 in list box
// 1003, and the entries' choices that the lines show and set.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { FIRST_LIST_PAGE = 1, LAST_LIST_PAGE = 10, LINE_CAP = 1024 };

// Number of lines on the current list page; set by the page set-up.
extern int ShownCount;

// Lines that list page `page` would show (0 for pages that have no list).
int ListPageCount(int page);
// Text of line `line` of list page `page`, cut to cap - 1 characters.
void ListLineText(int page, int line, char *buf, size_t cap);
// The choice that line `line` of page `page` shows and sets; null when the
// page or line does not exist.
int *ListChoice(int page, int line);

// Fills the emptied list box of `dialog` with ShownCount lines of `page`,
// selecting the lines whose choice is set.
void FillList(HWND dialog, int page);
// Copies the selection of each shown line back into its choice.
void StoreList(HWND dialog, int page);
// Selects (select != 0) or clears every line at once.
void SelectAllLines(HWND dialog, int select);
