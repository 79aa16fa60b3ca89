// The main window: its private messages and its handles. Program entry, the window procedure and
// the worker's start and shutdown are in main_window.cpp, which declares nothing for other files.
#pragma once

#include <windows.h>

#include "res/resource.h"
#include "worker/app_state.h"

// Sent by the worker, never posted; both return 1. wParam: a NUL-terminated UTF-16 text.
constexpr UINT WM_LOG_APPEND = WM_USER + 1;
constexpr UINT WM_FATAL_ERROR = WM_USER + 2;

constexpr wchar_t MAIN_CLASS_NAME[] = L"" MAIN_WINDOW_CLASS;

inline HWND mainWindow() { return static_cast<HWND>(g_appState.mainWindow.load()); }
inline HINSTANCE appInstance() { return static_cast<HINSTANCE>(g_appState.instance.load()); }
