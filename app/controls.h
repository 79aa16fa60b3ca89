// One-time set-up of the main window's controls (GUI thread).
#pragma once

#include <windows.h>

void initMainWindowControls();
HBITMAP recolourBitmapBackground(HBITMAP bitmap, COLORREF colour);
HWND addButtonTooltip(int controlId);
