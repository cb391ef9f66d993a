// TraceLog: the diagnostic log file "quarrow log.txt" beside the host executable.
//
// Overview: one printf-style message becomes one line ending in CR LF, with no
// time stamp or prefix. The file is emptied at every initialise and opened and
// closed for every line, so it is complete up to the last line at all times.
// Level 1 lines are written while the enabled flag is set; level 0 lines never.
//
// Threading: any thread may write at any time between Open and Close, also
// while holding the engine's locks: the log lock is always the innermost lock
// and nothing is called under it that takes another one.
//
// Lifetime: Open at initialise, Close at quit. Writes outside that window are
// dropped.
#pragma once

#include "platform/platform.h"

namespace TraceLog {

// Size of the formatted line, its CR LF and its NUL.
constexpr int kLineBufferSize = 4096;

void Open();
void SetEnabled(int enabled);
void Write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Close();

// The full path of the log file; empty when the host folder was too long for
// the log name to fit (the log then stays off).
const char* Path();

}  // namespace TraceLog
