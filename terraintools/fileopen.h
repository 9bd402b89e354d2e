// The files that the terrain programs open themselves, and the report of one that cannot be
// opened: the program's own line, which names the file, and the system's reason after it.
#pragma once

#include <cstdio>

// Opens the input `name` as fopen does with `mode`, a directory refused as the system refuses
// to read one: null, errno telling why, when the file cannot be opened for reading.
std::FILE* OpenInputFile(const char* name, const char* mode);

// Reports a file that cannot be opened, errno telling why: the program's `line` (a printf format
// whose one %s is the file's name), then the system's reason under the program's name on the
// next line, "<program>: <the system's message>".
void ReportNotOpened(const char* program, const char* line, const char* name);
