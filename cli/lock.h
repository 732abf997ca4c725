// A save's guards: the folder lock that makes runs take turns, the recovery of a save a crash cut
// off, and the signals held back while the files are written.
#pragma once

#include <csignal>
#include <string>

#include "cli/arguments.h"

namespace cli {

// Whether anything stands at `path` (a link too, even one that leads nowhere), or it cannot be told.
bool Exists(const std::string& path);

// An exclusive flock(2) for the object's lifetime on the folder of the file that saving `path`
// writes, after the links the save follows: every path to one file takes the same lock, so runs of
// the command that change it take turns and none saves over what another has just saved. Says on
// stderr that it waits once it has waited a second; ExitCode::BadInput when `wait` runs out.
class TFolderLock {
 public:
  TFolderLock(const std::string& path, TWait wait);
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

 private:
  int fd_ = -1;
};

// Undoes a save into `folder` that a crash cut off, and removes what it left there, telling so in
// one line on stderr; a command calls it before it reads a file of the folder.
void RecoverFolder(const std::string& folder);

// SIGINT, SIGTERM and SIGHUP held back for the object's lifetime, so that a save, once begun, ends
// with the whole set written; a signal that came meanwhile takes effect afterwards.
class TSignalsHeld {
 public:
  TSignalsHeld();
  ~TSignalsHeld();
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace cli
