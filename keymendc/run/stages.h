// The stages of one run, in the order run_command.cpp makes them, the same
// for every user, signed in or not. Each records what it met and returns
// false when the run goes no further; whatever a stage returned, the hives
// keymendc loaded are unloaded and the outcome is decided from the record.
#pragma once

#include "command_line.h"
#include "run_record.h"

// Windows Installer is running an installation: nothing is read, or, the
// second time, nothing is deleted.
bool RefuseWhileInstallerBusy(const Options& options, RunRecord* record);
// The driver list key cannot be opened for writing, as in KEYMEND.EXE.
bool RefuseWithoutRights(const Options& options, RunRecord* record);
// What a killed run left loaded is unloaded before anything is read, or
// that user would count as signed in.
bool ReleaseLeftoverHives(const Options& options, RunRecord* record);
// The installer data walked once: every registration of a loaded registry
// or of the machine, every key unseen, every user whose registry is not
// loaded, with the candidates to look at once it is.
bool SurveyRegistrations(const Options& options, RunRecord* record);
// With --include-signed-out, each such user's registry loaded (it stays
// loaded until the run ends) and their candidates examined.
bool LookIntoSignedOutUsers(const Options& options, RunRecord* record);
// Only a repair with something to delete goes on.
bool KeepOnlyWhatIsToBeDeleted(const Options& options, RunRecord* record);
// With --backup, every tree to delete in one file, before anything is.
bool BackUpEveryTree(const Options& options, RunRecord* record);
// Each registration tested again and deleted, by the same rules for all.
bool DeleteEveryRegistration(const Options& options, RunRecord* record);

// Every hive this run loaded, unloaded; each user's final state recorded.
void UnloadLoadedHives(RunRecord* record);
