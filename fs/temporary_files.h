// The temporary files of the process, listed in a fixed table that a signal
// handler can empty (temporary_files_remove_all), so that a run stopped by
// SIGINT, SIGTERM or SIGHUP leaves none behind.
#pragma once

#include <string>

// Lists the file at full_path (to be created right after, so that no moment
// passes with the file there and unlisted). Returns its slot, or -1 when the
// table is full or the path too long: the file is then not removed on a
// signal, the only loss.
int temporary_file_list(const std::string& full_path);

// Takes the file of the slot off the list (a slot of -1 is no file) and sets
// *slot to -1.
void temporary_file_unlist(int* slot);

// Removes every file still listed. Only calls that are safe in a signal
// handler.
void temporary_files_remove_all();
