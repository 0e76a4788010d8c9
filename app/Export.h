// The offline export: the production rendered frame by frame without a
// window, on the virtual music clock, into ffmpeg (video with the music, or
// numbered PNG files).
#pragma once

struct ExportOptions;

// Runs a whole export in the working directory and returns the process's
// exit status: 0 done, 1 failed, 2 refused before anything was rendered,
// 130 after Ctrl+C, 143 after SIGTERM. `program` is argv[0], for Qt.
int RunExport(const ExportOptions &options, char *program);
