// The trace file: one line per registry call or result, indented by nesting depth.
#pragma once

#include "platform/winapi.h"

#include <cstdarg>
#include <string>

extern WCHAR g_szLogPath[MAX_PATH];
extern int g_nLogIndent;

// Sets the trace file (null: "VelkaroSetup.log" in the temporary directory) and deletes
// the trace of an earlier run. A path that does not fit leaves logging off.
void InitLog(LPCWSTR path);

// Appends one line: tabs for the depth, the expanded format, CR LF. Formats that contain
// "ended." step the depth back before the line, "began." forward after it.
void WriteLog(LPCWSTR format, ...);

// Expands a trace format into the file's bytes: %s (wide string), %d, %x, %p and %%.
// Each UTF-16 unit becomes one byte; units above 0xFF become '?'. Appends to `out`.
void FormatLogText(std::string& out, LPCWSTR format, va_list args);
