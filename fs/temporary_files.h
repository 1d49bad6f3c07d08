// The temporary files of the process, listed in a fixed table that a signal
// handler can empty (temporary_files_remove_all), so that a run stopped by
// SIGINT, SIGTERM or SIGHUP leaves none behind, whichever thread was making
// one at that moment.
#pragma once

#include <string>

// Lists the file at full_path, to be created right after (so that no moment
// passes with the file there and unlisted), and counts the calling thread
// as making a temporary file until temporary_file_made. Returns its slot, or
// -1 when the table is full or the path too long: the file is then not
// removed on a signal, the only loss. Once the process is stopping
// (temporary_files_remove_all has begun) it never returns: the process is
// about to end, and no new file may appear.
int temporary_file_list(const std::string& full_path);

// The calling thread has tried to create the file it listed last (made or
// not): a stop no longer needs to wait for it.
void temporary_file_made();

// Takes the file of the slot off the list (a slot of -1 is no file) and sets
// *slot to -1.
void temporary_file_unlist(int* slot);

// Stops the listing of new files, waits (up to two seconds) until no other
// thread is between listing and making a file, and removes every file still
// listed. Only calls that are safe in a signal handler.
void temporary_files_remove_all();
