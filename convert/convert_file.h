// The conversion of one text log into one output file, and the removal of the
// log afterwards when that was asked for and nothing of it can be lost.
#pragma once

class WorkQueue;
struct ConversionRun;
struct FileTask;

// Converts the "txt" file of the task (relative to the root of
// run.input_fs) into an output whose name is the task's output path
// (relative to the root of run.outputs) without its extension, with the
// help of the other converting threads for a large log (helpers; none when
// the file's thread converts alone), and leaves
// in the task what became of it: its result (PATH_OK or PATH_FAILED), its
// outcome and its messages (held in the task when hold_messages is set,
// written as they come otherwise).
void convert_file(const ConversionRun& run, WorkQueue* helpers, FileTask* task, bool hold_messages);
