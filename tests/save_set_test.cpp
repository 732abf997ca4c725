#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core/save_set.h"
#include "file_seam.h"
#include "platform/file_ops.h"
#include "platform/system.h"
#include "test_files.h"
#include "text/exceptions.h"

using core::FileKind;
using core::TFileToSave;

namespace {

struct TProcessDied {};  // no std::exception: the writer must not catch it

// How a step goes wrong: `run` calls in a row fail with `error`, or, with `crash`, the first of
// them writes half its buffer and ends the save there as a dying process would.
struct TStop {
  bool crash = false;
  int run = 1;
  int error = EIO;
};

// Counts the calls through the seam, and reads and writes at most 16 bytes a call, as a signal may
// cut them short. From the `stop_at`-th on, calls go wrong as `stop` says. A failed call is
// `needed`, so that the save must fail, unless the save has another way: cleanup, hard links,
// listing a folder, and what only copies the old metadata. Destructors close files, so no crash
// comes at a close.
class TStepCalls : public THookedCalls {
 public:
  TStepCalls(int stop_at, TStop stop) : stop_at_(stop_at), stop_(stop) { most = 16; }
  int count = 0;
  bool unlink_failed = false;
  bool needed_failed = false;
  bool Fails(std::string_view call, const std::function<void()>& torn) override {
    if (++count < stop_at_ || count >= stop_at_ + stop_.run || stop_at_ <= 0 || (call == "close" && stop_.crash)) return false;
    if (stop_.crash && torn) torn();
    if (stop_.crash) throw TProcessDied{};
    unlink_failed = unlink_failed || call == "unlink";
    needed_failed = needed_failed || !std::set<std::string_view>{"close", "fchmod", "fchown", "unlink", "link", "flistxattr", "fgetxattr", "listfolder"}.contains(call);
    errno = stop_.error;
    return true;
  }

 private:
  int stop_at_;
  TStop stop_;
};

// Points XDG_STATE_HOME at `folder` for as long as it lives.
struct TStateHome {
  explicit TStateHome(const std::string& folder) { setenv("XDG_STATE_HOME", folder.c_str(), 1); }
  ~TStateHome() { unsetenv("XDG_STATE_HOME"); }
};

// The three files of a save, `tag` in every line, so that files of two saves cannot pass for one set.
std::vector<TFileToSave> Set(const std::string& folder, const std::string& tag) {
  return {{folder + "/.htpasswd", "alice:" + tag + "\r\nbob:" + tag + "\r\n", FileKind::Public},
          {folder + "/.htaccess", "AuthName " + tag + "\r\n", FileKind::Public},
          {folder + "/passwd.txt", "alice=" + tag + "\r\n", FileKind::Secret}};
}

std::string Save(const std::vector<TFileToSave>& set) {
  return FailureMessage<text::Exception>([&] { core::SaveFileSet(set); });
}

// What `action` gives with its file calls through `seam`, or "died" when the seam ended the process.
std::string Through(platform::TFileCalls& seam, const std::function<std::string()>& action) {
  try {
    const platform::TScopedFileCalls scoped(seam);
    return action();
  } catch (const TProcessDied&) {
    return "died";
  }
}

// What the next run does first: its note, or its failure's message.
std::string Recover(const TempDir& dir) {
  std::string note;
  const std::string failure = FailureMessage<text::Exception>([&] { note = core::RecoverCutSaves(dir.path()); });
  return failure.empty() ? note : "failed: " + failure;
}

std::string FolderBytes(const std::string& folder) {
  std::string bytes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) bytes += ReadBytes(entry.path());
  return bytes;
}

// Whether a save left anything of its own: a hidden file beside the targets or a journal.
bool LeftSomething(const TempDir& dir) {
  return dir.Listing().find(".ht.") != std::string::npos || !FolderBytes(core::StateFolder()).empty();
}

// All zero when there is no file.
struct stat StatOf(const std::string& path) {
  struct stat st{};
  stat(path.c_str(), &st);
  return st;
}

std::string AclText(const std::string& path) {
  acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  char* text = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE | TEXT_NUMERIC_IDS);
  const std::string out = text ? text : "";
  acl_free(text);
  acl_free(acl);
  return out;
}

const std::string kCleanupFailed = Sjis("保存は済みましたが");

// Saves once to count the calls through the seam, then once for every call k, stopped there as
// `stop` says (see TStepCalls), and then recovers as the next run would. `prepare` lays out the
// folder and gives the set; `cut` judges the folder as the save left it, `settled` as the recovery
// left it: "" for a save done, else its message, or "died".
using TJudge = std::function<void(const TempDir&, const std::string&, const TStepCalls&)>;
void AtEveryCall(TStop stop, const std::function<std::vector<TFileToSave>(const TempDir&)>& prepare, const TJudge& cut,
                 const TJudge& settled) {
  int calls = 0;
  for (int k = 0; k == 0 || k <= calls; ++k) {
    SCOPED_TRACE(testing::Message() << "call " << k);
    TempDir dir, state;
    const TStateHome home(state.path() + "/made");  // a state folder whose parent is made too
    const auto set = prepare(dir);
    TStepCalls seam(k, stop);
    const std::string outcome = Through(seam, [&] { return Save(set); });
    calls = k ? calls : seam.count;
    EXPECT_TRUE(k || outcome.empty()) << outcome;
    // (Of two failures in a row, the second may fall on the way round the first.)
    EXPECT_TRUE(!seam.needed_failed || stop.run > 1 || !outcome.empty()) << "a failed call the save cannot do without is told";
    // A save told done has tidied up after itself; any other failure to is told too.
    EXPECT_TRUE(!outcome.empty() || !LeftSomething(dir)) << dir.Listing();
    if (k == 0 && !stop.crash) {
      EXPECT_EQ(Save(prepare(dir)), "") << "again, finding the state folder the first save made";
      EXPECT_EQ(FileMode(core::StateFolder()) | FileMode(state.path() + "/made"), 0700u) << "copies of old passwords are nobody else's";
    }
    if (cut) cut(dir, outcome, seam);
    const bool left = LeftSomething(dir);
    const std::string note = Recover(dir);
    EXPECT_EQ(note.empty(), !left) << note;
    EXPECT_FALSE(note.starts_with("failed")) << note;
    EXPECT_FALSE(LeftSomething(dir)) << dir.Listing();
    if (settled) settled(dir, outcome, seam);
  }
  EXPECT_GT(calls, 20);
}

}  // namespace

TEST(SaveSet, AFailureOrCrashAtAnyStepLeavesEveryFileOldOrEveryFileNewOnceTheNextRunHasRecovered) {
  // A failing call, two in a row (a rollback meets a second fault), a full disk, and a crash. Files
  // there before, replaced or (with a second hard link) written in place, or none.
  for (const TStop stop : {TStop{}, TStop{false, 2}, TStop{false, 1, ENOSPC}, TStop{true}}) {
    for (const auto& [existing, linked] : {std::pair{true, false}, {true, true}, {false, false}}) {
      // A crash of a save that replaces the files there: Crash.AKillAtAnyCallOfASaveIsUndoneByTheNextRun
      // kills the command at every call of one.
      if (stop.crash && existing && !linked) continue;
      SCOPED_TRACE(testing::Message() << (existing ? "existing" : "new") << (linked ? ", linked" : "") << ", error "
                                      << stop.error << " x" << stop.run << (stop.crash ? ", crash" : ""));
      std::vector<TFileToSave> old_set, new_set;
      AtEveryCall(stop, [&](const TempDir& dir) {
        old_set = Set(dir.path(), "old");
        new_set = Set(dir.path(), "new");
        if (existing) {
          for (const auto& file : old_set) WriteBytes(file.path, file.bytes);
          chmod(old_set[2].path.c_str(), 0640);
        }
        if (linked) link(old_set[0].path.c_str(), dir.File("link").c_str()), link(old_set[2].path.c_str(), dir.File("link2").c_str());
        return new_set;
      }, {}, [&](const TempDir& dir, const std::string& message, const TStepCalls&) {
        const bool now_new = std::filesystem::exists(new_set[0].path) && ReadBytes(new_set[0].path) == new_set[0].bytes;
        EXPECT_TRUE(stop.crash || now_new == (message.empty() || message.starts_with(kCleanupFailed))) << message;
        for (std::size_t i = 0; i < 3; ++i)
          EXPECT_EQ(std::filesystem::exists(new_set[i].path) ? ReadBytes(new_set[i].path) : "(none)",
                    now_new ? new_set[i].bytes : existing ? old_set[i].bytes : "(none)");
        EXPECT_TRUE(!linked || (ReadBytes(dir.File("link")) == ReadBytes(old_set[0].path) &&
                                ReadBytes(dir.File("link2")) == ReadBytes(old_set[2].path))) << "the links see the same bytes";
        EXPECT_TRUE(!existing || FileMode(new_set[2].path) == (now_new ? 0600u : 0640u)) << "passwd.txt's mode goes with its bytes";
        // A full disk is said so, by the failure's own words or by the system's reason it gives.
        EXPECT_TRUE(stop.error != ENOSPC || message.empty() || message.find(Sjis("ディスクがいっぱい")) != std::string::npos) << message;
        const std::string listing = now_new || existing ? ".htaccess .htpasswd passwd.txt" : "";
        EXPECT_EQ(dir.Listing(), linked ? ".htaccess .htpasswd link link2 passwd.txt" : listing);
      });
    }
  }
}

TEST(SaveSet, ACrashWhileWritingInPlaceNeverShowsAServerAUserOfNeitherText) {
  // Old and new texts whose lines end at other places, so that a line of one could run into the
  // other; in the last, half of the longer length ends a new line in the middle of the old one;
  // in the last two, the lines around the changed one are kept and never touched.
  const std::pair<std::string, std::string> texts[] = {
      {"alice:aaaaaaaaaaaaaa\r\nbob:bbbbbbbbbbbbbbbbbbbbbbbb\r\n# note\r\n", "eve:eeeeeeeeeeeeeeeeeeeee\r\n\r\nmallory:m\r\n"},
      {"carol:ccccccccc\r\n", "dave:dddddddddddddddddddddd\r\nerin:eeeeeeeeeeeeeeeeeeeeeeee\r\n"},
      {"mallory:ab:cdefgh\r\n", "eve:123\r\n"},
      {"kept:k\nmallory:ab:cdefgh\r\n", "kept:k\neve:123\r\nlonger:line\n"},
      {"kept:k\nbob:old\nkept:k\n", "kept:k\nbob:new\nkept:k\n"}};
  // A crash while the disk writes its sectors in any order can leave any byte-by-byte mix of two
  // texts in a row. Such a mix holds only lines of either text, or commented ones, when wherever
  // the two differ: only first bytes of lines differ, with '#' on one side; or every line starts
  // with '#' in both; or both hold nothing but '#' and LF. Whole lines the two open or end with
  // alike are the same in every mix.
  const auto mix_is_safe = [](std::string a, std::string b) {
    std::size_t same = 0, tail = a.size();
    for (std::size_t i = 0; i < std::min(a.size(), b.size()) && a[i] == b[i]; ++i) same = a[i] == '\n' ? i + 1 : same;
    for (std::size_t i = a.size(); a.size() == b.size() && i > same && a[i - 1] == b[i - 1]; --i) tail = a[i - 1] == '\n' ? i : tail;
    if (a.size() == b.size()) a.erase(tail), b.erase(tail);
    a.erase(0, same), b.erase(0, same);
    a.resize(std::max(a.size(), b.size()), '\n'), b.resize(a.size(), '\n');
    bool inside = false, starts_hashed = true;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if ((a[i] == '\n') != (b[i] == '\n')) return (a + b).find_first_not_of("#\n") == std::string::npos;
      const bool start = i == 0 || a[i - 1] == '\n';
      starts_hashed = starts_hashed && (!start || a[i] == '\n' || (a[i] == '#' && b[i] == '#'));
      if (a[i] == b[i]) continue;
      if (!start) inside = true;
      else if (a[i] != '#' && b[i] != '#') return false;
    }
    return !inside || starts_hashed;
  };
  for (const auto& [old_text, new_text] : texts) {
    const auto old_users = ServerUsers(old_text), new_users = ServerUsers(new_text);
    std::vector<std::string> seen;  // the file as a crash at each call left it, in order
    AtEveryCall(TStop{true}, [&](const TempDir& dir) {
      auto set = Set(dir.path(), "x");
      WriteBytes(set[0].path, old_text);
      link(set[0].path.c_str(), dir.File("link").c_str());
      set[0].bytes = new_text;
      return set;
    }, [&](const TempDir& dir, const std::string& outcome, const TStepCalls&) {
      const std::string now = ReadBytes(dir.File(".htpasswd"));
      if (outcome == "died" && (seen.empty() || seen.back() != now)) seen.push_back(now);
      // (That lines both texts have are never touched while cut, the crash test sees: nobody else
      // loses their login.)
      for (const auto& user : ServerUsers(now))
        EXPECT_TRUE(std::ranges::count(old_users, user) + std::ranges::count(new_users, user)) << user.first << " in " << now;
    }, [&](const TempDir& dir, const std::string&, const TStepCalls&) {
      // Either text, the new maybe with the blank lines that padded it to the longer one (a crash
      // after the save stood, before the file was cut to length, leaves them: servers skip them).
      const std::string now = ReadBytes(dir.File(".htpasswd"));
      EXPECT_TRUE(now == old_text || (now.starts_with(new_text) && now.find_first_not_of('\n', new_text.size()) == std::string::npos)) << now;
    });
    seen.push_back(new_text);
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_TRUE(mix_is_safe(seen[i - 1], seen[i])) << testing::PrintToString(seen[i - 1]) << " then " << testing::PrintToString(seen[i]);
  }
}

TEST(SaveSet, EveryFileGetsTheOwnerModeAclAndAttributesTheServerAndTheUserNeed) {
  // The umask, then .htpasswd's and passwd.txt's modes before (0: no file) and after. .htaccess is new.
  const std::tuple<mode_t, unsigned, unsigned, unsigned, unsigned> cases[] = {
      {000, 0, 0644, 0, 0600}, {077, 0, 0644, 0, 0600}, {077, 0640, 0640, 0644, 0600}, {000, 0604, 0604, 0666, 0600}};
  for (const auto& [mask, htpasswd_before, htpasswd_after, secret_before, secret_after] : cases) {
    TempDir dir;
    const auto set = Set(dir.path(), "new");
    for (const auto& [file, mode] : {std::pair{set[0].path, htpasswd_before}, std::pair{set[2].path, secret_before}}) {
      if (mode) WriteBytes(file, "old\r\n");
      chmod(file.c_str(), mode);
    }
    link(set[2].path.c_str(), dir.File("link").c_str());  // an existing passwd.txt is written in place
    const mode_t umask_was = umask(mask);
    EXPECT_EQ(Save(set), "");
    umask(umask_was);
    EXPECT_EQ(std::make_tuple(FileMode(set[0].path), FileMode(set[1].path), FileMode(set[2].path)),
              std::make_tuple(htpasswd_after, 0644u, secret_after));
  }

  // A replaced file keeps its ACL and attributes; a new passwd.txt takes no ACL from its folder's default.
  TempDir dir;
  const auto set = Set(dir.path(), "new");
  WriteBytes(set[0].path, "old\r\n"), WriteBytes(set[1].path, "old\r\n");
  const std::string kept(300, 'k');  // longer than a first guess at an attribute's size
  acl_t access = acl_from_text("u::rw-,u:65534:r--,g::r--,m::r--,o::---");
  acl_t inherited = acl_from_text("u::rwx,u:65534:rwx,g::r-x,m::rwx,o::---");
  const bool supported = acl_set_file(set[0].path.c_str(), ACL_TYPE_ACCESS, access) == 0 &&
                         acl_set_file(dir.path().c_str(), ACL_TYPE_DEFAULT, inherited) == 0 &&
                         setxattr(set[0].path.c_str(), "user.vastelo", kept.data(), kept.size(), 0) == 0 &&
                         setxattr(set[0].path.c_str(), "user.empty", "", 0, 0) == 0 &&
                         setxattr(set[1].path.c_str(), "user.only", "x", 1, 0) == 0;
  acl_free(access);
  acl_free(inherited);
  if (!supported) GTEST_SKIP() << "the temporary folder's file system keeps no ACL or extended attributes";
  const ino_t before = StatOf(set[0].path).st_ino;
  EXPECT_EQ(Save(set), "");
  EXPECT_NE(StatOf(set[0].path).st_ino, before) << "replaced, not written in place";
  EXPECT_EQ(AclText(set[0].path), "u::rw-,u:65534:r--,g::r--,m::r--,o::---");
  std::string value(400, '\0');
  value.resize(static_cast<std::size_t>(std::max<ssize_t>(0, getxattr(set[0].path.c_str(), "user.vastelo", value.data(), value.size()))));
  EXPECT_EQ(value, kept);
  EXPECT_EQ(getxattr(set[0].path.c_str(), "user.empty", nullptr, 0), 0) << "an attribute without a value is kept too";
  EXPECT_EQ(getxattr(set[1].path.c_str(), "user.only", nullptr, 0), 1) << "and a file's only one";
  // Attributes that cannot be listed cannot be copied: the file is written in place and keeps them.
  struct : platform::TFileCalls { ssize_t Flistxattr(int, char*, std::size_t) override { return errno = EIO, -1; } } unlisted;
  EXPECT_EQ(Through(unlisted, [&] { return Save(set); }), "");
  EXPECT_EQ(getxattr(set[1].path.c_str(), "user.only", nullptr, 0), 1);
  EXPECT_EQ(AclText(set[2].path), "u::rw-,g::---,o::---");
  // An existing passwd.txt written in place loses an ACL that let somebody else read it.
  acl_t readable = acl_from_text("u::rw-,u:65534:r--,g::---,m::r--,o::---");
  acl_set_file(set[2].path.c_str(), ACL_TYPE_ACCESS, readable);
  acl_free(readable);
  link(set[2].path.c_str(), dir.File("link").c_str());
  EXPECT_EQ(Save(set), "");
  EXPECT_EQ(std::make_pair(AclText(set[2].path), FileMode(set[2].path)), std::make_pair(std::string("u::rw-,g::---,o::---"), 0600u));
  // A folder that takes no new files, as on shared hosts, still has the files in it written, in place.
  struct : platform::TFileCalls {
    int Open(const char* p, int f, mode_t m) override { return f & O_CREAT && std::string_view(p).find("/.ht.") != std::string_view::npos ? (errno = EACCES, -1) : TFileCalls::Open(p, f, m); }
  } closed;
  EXPECT_EQ(Through(closed, [&] { return Save(Set(dir.path(), "again")); }), "");
  EXPECT_EQ(ReadBytes(set[1].path), "AuthName again\r\n");
  // On a file system that keeps no extended attributes, and so no ACLs, files are still replaced.
  struct : platform::TFileCalls {
    ssize_t Flistxattr(int, char*, std::size_t) override { return errno = ENOTSUP, -1; }
    ssize_t Fgetxattr(int, const char*, void*, std::size_t) override { return errno = ENOTSUP, -1; }
  } plain;
  const ino_t again = StatOf(set[0].path).st_ino;
  EXPECT_EQ(Through(plain, [&] { return Save(Set(dir.path(), "plain")); }), "");
  EXPECT_NE(StatOf(set[0].path).st_ino, again) << "not written in place";
}

TEST(SaveSet, AnOrdinaryUserKeepsAGroupTheyAreNotInAndGetsTheKernelsVerdict) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file a group its owner is not in takes root";
  // .htpasswd's mode (owned by 65534 and group 1, which 65534 is not in) and whether the save is refused.
  for (const auto& [mode, refused] : {std::pair{0640u, false}, std::pair{0444u, true}}) {
    TempDir home, site;  // the user's own folder, chowned to them, and a folder anybody may write
    chmod(site.path().c_str(), 0777);
    const auto set = Set(site.path(), "new");
    WriteBytes(set[0].path, "old\r\n");
    chown(set[0].path.c_str(), 65534, 1);
    chmod(set[0].path.c_str(), mode);
    const ino_t before = StatOf(set[0].path).st_ino;
    const TStateHome state(home.path());
    const std::optional<std::string> outcome = AsOrdinaryUser(home, [&] { return Save(set); });
    if (!outcome) GTEST_SKIP() << "this machine does not let a test run as an ordinary user";
    EXPECT_EQ(*outcome, refused ? Sjis("ファイル「" + set[0].path + "」に書き込めません。権限がありません。ファイルとフォルダの持ち主と権限を確かめてください") : "");
    const struct stat after = StatOf(set[0].path);
    EXPECT_EQ(std::tuple(after.st_ino, after.st_gid, FileMode(set[0].path)), std::tuple(before, 1u, mode));
    EXPECT_EQ(ReadBytes(set[0].path), refused ? "old\r\n" : set[0].bytes);
    EXPECT_EQ(site.Listing(), refused ? ".htpasswd" : ".htaccess .htpasswd passwd.txt");
  }
}

TEST(SaveSet, ASymbolicLinkIsFollowedOnlyWhenItsOwnerIsTrustedAndItLeadsToAFile) {
  const uid_t self = geteuid();
  // The link's owner, its folder's owner and mode, whether the file it names exists and whose it
  // is, and whether it is refused. Root follows a link only to a file of the link's owner (its
  // refusal of the folder owner's link to root's file, CliRootSafety sees).
  const std::tuple<const char*, uid_t, uid_t, mode_t, bool, uid_t, bool> cases[] = {
      {"this user's link", self, self, 0700, true, self, false},
      {"another user's link in a sticky folder", 1, self, 01777, true, self, true},
      {"the folder owner's link to their own file", 65534, 65534, 0755, true, 65534, false},
      {"a link that leads nowhere", self, self, 0700, false, self, true}};
  for (const auto& [label, link_owner, folder_owner, folder_mode, leads, file_owner, refused] : cases) {
    SCOPED_TRACE(label);
    if ((link_owner != self || folder_owner != self) && self != 0) continue;  // lchown takes root
    TempDir dir, elsewhere;
    const auto set = Set(dir.path(), "new");
    const std::string real = elsewhere.File("real");
    if (leads) WriteBytes(real, "old\r\n"), chown(real.c_str(), file_owner, static_cast<gid_t>(-1));
    symlink(real.c_str(), set[0].path.c_str());
    lchown(set[0].path.c_str(), link_owner, static_cast<gid_t>(-1));
    chown(dir.path().c_str(), folder_owner, static_cast<gid_t>(-1));
    chmod(dir.path().c_str(), folder_mode);
    const std::string link_message = "シンボリックリンク \"" + set[0].path + "\"";
    EXPECT_EQ(Save(set), !refused ? ""
                         : leads  ? Sjis(link_message + " は持ち主が信頼できないため、たどりません")
                                  : Sjis(link_message + " の指す \"" + real + "\" がありません"));
    EXPECT_EQ(std::filesystem::read_symlink(set[0].path), real) << "the link stays a link";
    EXPECT_EQ(leads ? ReadBytes(real) : "(none)", !leads ? "(none)" : refused ? "old\r\n" : set[0].bytes);
    EXPECT_EQ(dir.Listing(), refused ? ".htpasswd" : ".htaccess .htpasswd passwd.txt");
  }
  // A folder where the file belongs is named to a front end with the system's error number.
  TempDir dir;
  const auto set = Set(dir.path(), "new");
  std::filesystem::create_directory(set[0].path);
  EXPECT_EQ(Caught<text::Exception>([&] { core::SaveFileSet(set); }).facts, set[0].path + ":0:" + std::to_string(EISDIR));
}

TEST(SaveSet, ARecoveryStoppedAtAnyCallIsTakenUpByTheNextRun) {
  // A save (.htpasswd and passwd.txt written in place, .htaccess replaced, or all three new) cut
  // off at every tenth call; then the recovery, stopped at each of its calls, failing or dying;
  // then the next one.
  for (const bool existing : {true, false}) {
    int save_calls = 0;
    for (int k = 0; k == 0 || k <= save_calls; k += k ? 10 : 1) {
      const auto cut_save = [&](const TempDir& dir) {
        const auto old_set = Set(dir.path(), "old");
        if (existing) {
          for (const auto& file : old_set) WriteBytes(file.path, file.bytes);
          link(old_set[0].path.c_str(), dir.File("link").c_str()), link(old_set[2].path.c_str(), dir.File("link2").c_str());
        }
        TStepCalls seam(k, TStop{true});
        Through(seam, [&] { return Save(Set(dir.path(), "new")); });
        return seam.count;
      };
      for (const bool crash : {false, true}) {
        int recovery_calls = 0;
        for (int j = 0; j == 0 || j <= recovery_calls; ++j) {
          SCOPED_TRACE(testing::Message() << (existing ? "existing" : "new") << ", save cut at call " << k << ", recovery "
                                          << (crash ? "dead" : "failing") << " at call " << j);
          TempDir dir, state;
          const TStateHome home(state.path());
          const int counted = cut_save(dir);
          save_calls = k ? save_calls : counted;
          const bool left = LeftSomething(dir);
          TStepCalls seam(j, TStop{crash});
          const std::string outcome = Through(seam, [&] { return Recover(dir); });
          recovery_calls = j ? recovery_calls : seam.count;
          // A recovery that went wrong says so, or had nothing left to do.
          EXPECT_TRUE(outcome.starts_with("failed") || outcome == "died" || !LeftSomething(dir)) << outcome;
          EXPECT_TRUE(outcome.starts_with("failed") || outcome == "died" || outcome.empty() == !left) << outcome;
          EXPECT_FALSE(Recover(dir).starts_with("failed"));
          EXPECT_FALSE(LeftSomething(dir)) << dir.Listing();
          const auto old_set = Set(dir.path(), "old"), new_set = Set(dir.path(), "new");
          std::string files, olds, news;
          for (std::size_t i = 0; i < 3; ++i) {
            files += std::filesystem::exists(new_set[i].path) ? ReadBytes(new_set[i].path) : "";
            olds += old_set[i].bytes, news += new_set[i].bytes;
          }
          EXPECT_TRUE(files == news || files == (existing ? olds : "")) << files;
          EXPECT_TRUE(!existing || ReadBytes(dir.File("link")) == ReadBytes(dir.File(".htpasswd")));
        }
      }
    }
  }
}

TEST(SaveSet, TheFaultsOnceFoundStayMended) {
  const char* const home_set = std::getenv("HOME");
  const std::string home_before = home_set ? home_set : "";
  // No state folder to be had: HOME names nothing that can be made, and XDG_STATE_HOME is
  // relative, which the base directory rules say to ignore. A folder that takes new files keeps
  // the journal itself, hidden; one that takes none is refused, saying why, before anything is
  // changed.
  setenv("HOME", "/proc/nonexistent", 1);
  setenv("XDG_STATE_HOME", "x/state", 1);
  for (const bool closed_folder : {false, true}) {
    TempDir dir;
    const auto old_set = Set(dir.path(), "old"), new_set = Set(dir.path(), "new");
    for (const auto& file : old_set) WriteBytes(file.path, file.bytes);
    link(old_set[0].path.c_str(), dir.File("link").c_str());
    struct : platform::TFileCalls {
      std::string inside;
      int Open(const char* p, int f, mode_t m) override { return f & O_CREAT && std::string_view(p).starts_with(inside) ? (errno = EACCES, -1) : TFileCalls::Open(p, f, m); }
      int Mkdir(const char* p, mode_t m) override { return std::string_view(p).starts_with(inside) ? (errno = EACCES, -1) : TFileCalls::Mkdir(p, m); }
    } closed;
    closed.inside = closed_folder ? dir.path() + "/" : "/nowhere/";
    const std::string outcome = Through(closed, [&] { return Save(new_set); });
    EXPECT_EQ(outcome, closed_folder ? Sjis("\"" + old_set[0].path + "\" の保存を中断に備えて記録する場所がありません。\"/proc/nonexistent/.local/state/vastelo\" も \"" +
                                           dir.path() + "/.ht.vastelo\" も作れません: ") + platform::SystemErrorText(EACCES)
                                     : "");
    EXPECT_EQ(ReadBytes(old_set[0].path), (closed_folder ? old_set : new_set)[0].bytes);
    EXPECT_EQ(dir.Listing(), closed_folder ? ".htaccess .htpasswd link passwd.txt" : ".ht.vastelo .htaccess .htpasswd link passwd.txt");
    EXPECT_TRUE(closed_folder || (FileMode(dir.File(".ht.vastelo")) == 0700u && FolderBytes(dir.File(".ht.vastelo")).empty()));
  }
  setenv("HOME", home_before.c_str(), 1);

  // (A full disk: Crash.AFullDiskLeavesTheOldTextAndSaysSo fills a real one under a save in place
  // and one that replaces.)

  // A hard link of ours that a crash left does not send the next save in place.
  TempDir state, dir;
  const TStateHome home(state.path());
  const auto set = Set(dir.path(), "new");
  WriteBytes(set[0].path, "old\r\n");
  link(set[0].path.c_str(), dir.File(".ht..htpasswd.old-AbCd1234").c_str());
  // Names like ours that are not ours are somebody's files, and stay.
  for (const char* theirs : {".ht..htpasswd.bak-AbCd1234", ".ht..htpasswd.old-AbCd12-4"}) WriteBytes(dir.File(theirs), "theirs");
  const ino_t before = StatOf(set[0].path).st_ino;
  EXPECT_EQ(Save(set), "");
  EXPECT_NE(StatOf(set[0].path).st_ino, before) << "written in place";
  EXPECT_EQ(core::RecoverCutSaves(dir.path()), Sjis("前回中断された保存の一時ファイルを \"" + dir.path() + "\" から削除しました"));
  EXPECT_EQ(dir.Listing(), ".ht..htpasswd.bak-AbCd1234 .ht..htpasswd.old-AbCd12-4 .htaccess .htpasswd passwd.txt");
  // A journal that names no file cannot be undone: said so, with no system's reason, and kept.
  const std::string journal = core::StateFolder() + "/journal-torn";
  WriteBytes(journal, "file 0 0\n\nready 0 0\n\n");
  EXPECT_EQ(Caught<text::Exception>([&] { core::RecoverCutSaves(dir.path()); }).facts, journal + ":0:0");
  EXPECT_EQ(Recover(dir), "failed: " + Sjis("中断された保存の記録 \"" + journal + "\" が読めないため、元に戻せません"));
  EXPECT_TRUE(std::filesystem::exists(journal));
}
