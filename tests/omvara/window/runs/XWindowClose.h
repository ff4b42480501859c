// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Asks an X window to close as a window manager's close button does
// (WM_DELETE_WINDOW). False when the display cannot be opened.
bool closeWindow(unsigned long window);
