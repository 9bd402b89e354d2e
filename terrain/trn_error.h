// Failure reporting of the terrain passes: the coded error reporter `trn_error` with its
// message table, and the failure convention built on it.
//
// Every failing open, temporary file, read, write or close is reported where it happens (the
// system error prefixed with the module name, then `trn_error`), and the caller only returns -1.
#pragma once

inline constexpr int kErrorOpen = 4;   // "Can't open %s\n"
inline constexpr int kErrorWrite = 5;  // "Can't write %s\n"
inline constexpr int kErrorRead = 6;   // "Can't read %s\n"
inline constexpr int kErrorClose = 8;  // "Can't close %s\n"
inline constexpr int kErrorFlags = 9;  // "Illegal combination of flags\n"
inline constexpr int kErrorTextRows = 16;
inline constexpr int kErrorTextLines = 8;

// One row per error code, up to eight printf-style lines, each with at most one "%s".
// Empty slots are null.
extern const char* const ErrorTextTable[kErrorTextRows][kErrorTextLines];

// Prints the lines of row `code` to standard error, each as "<module>: <line>" with `name`
// (and `extra`) formatted in. Code 0, or a code outside the table, prints nothing.
void trn_error(int code, const char* module, const char* name, const char* extra);

// The system's report of `error`, as the C library prints one for errno: "<prefix>: <the
// system's message>" and a newline on standard error.
void trn_system_error(const char* prefix, int error);

// The failure convention: the system error for errno prefixed with the module name, then
// trn_error(code, module, name, ""). Returns -1 for the caller to return.
int trn_fail(const char* module, int code, const char* name);
// The same with the system error under `prefix` in place of the module name (the level pass's
// "Write failed").
int trn_fail(const char* prefix, const char* module, int code, const char* name);
