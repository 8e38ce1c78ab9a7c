// The routing of libtiff's error and warning texts.
#pragma once

// Receivers of libtiff's error and warning texts ("module: message"); null restores silence.
typedef void (*ExternMsgProc)(const char* text);
void ExternErrorSet(ExternMsgProc proc);
void ExternWarningSet(ExternMsgProc proc);
