#pragma once

// Gives the process a console of its own and points standard output and error at it, for runs
// under a debugger that was not started from a console.
void OpenDebugConsole();
