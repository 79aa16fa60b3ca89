// The log pane (GUI thread).
#pragma once

// Appends `text` at the very end, cutting the oldest lines once the pane grows long.
void appendLog(const wchar_t *text);
