// The three files of a save (.htpasswd, .htaccess, passwd.txt) written as one set: every file new,
// or, after any failure, every file as it was. Each file goes to a hidden temporary file beside it,
// is flushed and renamed into place, with the old file kept under a hidden hard link until the whole
// set stands; a file that cannot be replaced is rewritten where it lies in steps a web server never
// misreads. A journal records each save before it changes anything, so that a save cut off by a
// crash is undone by the next run (RecoverCutSaves).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace core {

enum class FileKind { Public,   // .htpasswd, .htaccess: the web server must read it
                      Secret }; // passwd.txt: clear-text passwords, owner only

struct TFileToSave {
  std::string path;
  std::string bytes;
  FileKind kind;
};

// Writes every file of the set or, failing, leaves every one of them as it was. Every target is
// checked before any is written: a symbolic link is followed only when it belongs to this user,
// root or the owner of its folder, and never when it leads nowhere; a file this user may not write
// is refused. A new Public file is 0644, a Secret file always 0600 without ACL; a replaced Public
// file keeps its owner, group, mode, ACL and extended attributes, and is written in place where the
// new file could not carry them. Throws text::EFCreateError naming the file and the system's
// reason, text::Exception naming a refused link or a target that is no regular file, the file that
// could not be written (a full disk said as such) when writing or flushing fails, the file that
// could not be put back (which the next run then puts back), or a leftover that could not be removed
// after the set was saved.
//
// Root, where another user may make files in a target's folder, writes no file there that is not
// root's alone (another owner, or a second hard link), and no user writes a Secret file that is
// another's; root follows a link only when it is root's or the owner's of the file it leads to.
// `last_check`, when given, runs right before each file's rename or in-place write begins; what it
// throws undoes the set and is thrown on.
using TLastCheck = std::function<void(const TFileToSave&)>;
void SaveFileSet(const std::vector<TFileToSave>& files, const TLastCheck& last_check = {});

// The file that saving `path` writes: where the links SaveFileSet follows lead, or the path itself
// when nothing is there yet. Throws as SaveFileSet does for a link it would refuse.
std::string SaveTarget(const std::string& path);

// Where saves keep their journals: $XDG_STATE_HOME/vastelo or ~/.local/state/vastelo (an unset,
// empty or relative XDG_STATE_HOME counts as absent); where that cannot be made, a hidden 0700
// folder ".ht.vastelo" beside the first file of the set. Created 0700 by the first save, not here.
// Tests may set XDG_STATE_HOME.
std::string StateFolder();

// Undoes every save that was cut off and whose journal is in the state folder or beside the files
// of `folder`, and removes the files a save of ours left in `folder`; to be called before a file of
// `folder` is read. Gives one line for the user (code page 932) saying what it did, "" when there
// was nothing to do. Throws text::Exception naming the file it could not put back or remove; what
// it leaves, the next call takes up again.
std::string RecoverCutSaves(const std::string& folder);

}  // namespace core
