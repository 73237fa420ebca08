#pragma once

#include "command_line.h"
#include "run_record.h"

// Runs check or repair over every damaged registration on the machine, in
// diagnostic mode so that every failure is collected; refuses while Windows
// Installer is busy or without administrator rights, before anything is
// read, and while it is busy again before the first deletion. The record's
// exit code is the process's.
RunRecord RunCommand(const Options& options);
