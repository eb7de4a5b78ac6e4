// What the Windows side of files.h does where the system lacks a call.
#pragma once

// Gives the file `from` the name `to`, replacing a file of that name, as one
// step where the system can (MoveFileExA), else by file_replace_by_renames.
// 0 or -1.
int file_replace(const char* from, const char* to);

// file_replace for Windows 95 and 98, whose MoveFileExA is a stub: a
// rename where no file has the name `to` yet; else the old file is renamed
// to `to` with ".old" appended, `from` takes the name, and the old copy is
// deleted (or renamed back when `from` cannot take the name). The name
// `to` never names a partly written file, but between the two renames it
// names none. Renames are not written through to the disk. 0 or -1, with
// the reason for file_last_error.
int file_replace_by_renames(const char* from, const char* to);
