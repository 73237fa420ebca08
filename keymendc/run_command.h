#pragma once

#include "command_line.h"
#include "run_record.h"

// Runs check or repair with the engine, in diagnostic mode so that every
// failure is collected; refuses while Windows Installer is busy or without
// administrator rights, before anything is read. The record's exit code is
// the process's.
RunRecord RunCommand(const Options& options);
