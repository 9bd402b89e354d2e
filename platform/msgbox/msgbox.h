// The modal message box of the class library. There is no screen here: the box records its text
// where a test or the host can read it (msgbox_test_hook.h) and returns at once, as if the user
// had pressed OK.
#pragma once

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr int IDOK = 1;

int AfxMessageBox(const char* text, unsigned type = MB_OK, unsigned helpContext = 0);
