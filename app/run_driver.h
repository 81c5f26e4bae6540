#pragma once

// Runs the whole program for one image: settings, catalogue, event, window, rows, header,
// axis, GIF and preview. Returns the exit status (see exit_status.h).
int RunProgram(int argc, char** argv);
