// The job without a window: what is saved is what the rows say now, an opened .htpasswd goes back
// line for line, changes made on disk meanwhile are merged, and the records beside it survive.
#include <apr_md5.h>
#include <apr_errno.h>
#include <crypt.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "core/credential_build.h"
#include "core/encoding.h"
#include "core/encrypt_password.h"
#include "core/job.h"
#include "des_crypt/des_crypt.h"
#include "hashes/hashes.h"
#include "scripted_random.h"
#include "test_files.h"
#include "text/exceptions.h"
#include "text/string_list.h"

namespace {

// What Apache runs to check a password: the judge of every hash here.
bool Verifies(const std::string& password, const std::string& hash) {
  return apr_password_validate(password.c_str(), hash.c_str()) == APR_SUCCESS;
}

std::string Apr1(const std::string& password, const std::string& salt) {
  char out[64];
  apr_md5_encode(password.c_str(), ("$apr1$" + salt + "$").c_str(), out, sizeof out);
  return out;
}

// The users of a .htpasswd as a server reads them: the first line of each name.
std::map<std::string, std::string> Users(const std::string& bytes) {
  std::map<std::string, std::string> users;
  for (const std::string& line : text::SplitLines(bytes))
    if (!line.empty() && line[0] != '#' && line.find(':') != std::string::npos)
      users.emplace(line.substr(0, line.find(':')), line.substr(line.find(':') + 1));
  return users;
}

class Job : public testing::Test {
 public:
  bool Build() {
    return job.Build([](std::size_t, std::size_t) { return true; });
  }
  // Plans a save into the temporary folder and makes it, answering every question with yes.
  core::TSavePlan SaveAll() {
    core::TSavePlan plan = job.PlanSave(dir.path());
    job.Save(plan, true);
    return plan;
  }
  void Add(const std::string& key, const std::string& value) { table.InsertEntry(key, value, true); }

  TempDir dir;
  table::TUserList table;
  core::TJob job{table};
};

}  // namespace

TEST_F(Job, OnlyTheResultOfTheRowsAsTheyStandIsSaved) {
  // Each change after a build makes its files stale; the next build has the change in every file.
  const struct {
    const char* label;
    std::function<void(Job&)> change;
    std::map<std::string, bool> users;  // in .htpasswd and passwd.txt after the next build
  } cases[] = {
      {"a removed user", [](Job& t) { t.table.RemoveRow(2); }, {{"alice", true}}},
      {"a new password", [](Job& t) { t.table.SetCellText(table::ValueColumn, 2, "changed"); },
       {{"alice", true}, {"mallory", true}}},
      {"an added user", [](Job& t) { t.Add("carol", "cpw"); }, {{"alice", true}, {"mallory", true}, {"carol", true}}},
      {"another format", [](Job& t) { t.job.SetSettings({hashes::Format::Apr1, {}, false}); },
       {{"alice", true}, {"mallory", true}}},
      {"another realm", [](Job& t) { t.job.SetAuth("/srv/.htpasswd", "Members"); }, {{"alice", true}, {"mallory", true}}},
  };
  for (const auto& c : cases) {
    table.Strings().Clear();
    Add("alice", "apw");
    Add("mallory", "mpw");
    ASSERT_TRUE(Build());
    EXPECT_TRUE(job.CanSave()) << c.label;
    c.change(*this);
    EXPECT_FALSE(job.CanSave()) << c.label;
    EXPECT_THROW(job.PlanSave(dir.path()), std::logic_error) << c.label;
    ASSERT_TRUE(Build());
    SaveAll();
    const std::map<std::string, std::string> users = Users(ReadBytes(dir.File(".htpasswd")));
    EXPECT_EQ(users.size(), c.users.size()) << c.label;
    for (const std::string& line : text::SplitLines(ReadBytes(dir.File("passwd.txt")))) {
      const std::string user = line.substr(0, line.find('=')), password = line.substr(line.find('=') + 1);
      EXPECT_TRUE(c.users.count(user)) << c.label << ": " << user;
      EXPECT_TRUE(Verifies(password, users.at(user))) << c.label << ": " << user;
    }
  }
  // The realm and format of the last case reached .htaccess and the hashes.
  EXPECT_TRUE(ReadBytes(dir.File(".htaccess")).starts_with("AuthUserFile /srv/.htpasswd\r\n"));
  // A setting the library refuses fails the hashing: no row is left with an empty hash.
  EXPECT_THROW(core::HashJobs({core::THashJob{"pw", {}, "$9$"}}, [](std::size_t) { return true; }), std::invalid_argument);
}

TEST_F(Job, ABuildInTwoStepsMakesFilesOnlyOfTheRowsItStartedFrom) {
  const struct {
    const char* label;
    std::function<void(Job&, core::TBuildRun&)> meanwhile;
    bool made;
  } cases[] = {
      {"left alone", [](Job&, core::TBuildRun&) {}, true},
      {"cancelled", [](Job&, core::TBuildRun& run) { run.Cancel(); }, false},
      {"a row changed", [](Job& t, core::TBuildRun&) { t.table.SetCellText(table::ValueColumn, 2, "new"); }, false},
      {"another realm", [](Job& t, core::TBuildRun&) { t.job.SetAuth("/x", "Other"); }, false},
  };
  for (const auto& c : cases) {
    table.Strings().Clear();
    job.DropResult();
    Add("alice", "");
    Add("bob", "bpw");
    const std::unique_ptr<core::TBuildRun> run = job.StartBuild();
    EXPECT_EQ(run->Total(), 2u) << c.label;
    c.meanwhile(*this, *run);
    while (!run->Cancelled() && !run->WaitFor(std::chrono::milliseconds(10))) {
    }
    EXPECT_EQ(job.FinishBuild(*run), c.made) << c.label;
    EXPECT_EQ(job.CanSave(), c.made) << c.label;
    EXPECT_EQ(table.CellText(table::ValueColumn, 1).size(), c.made ? 8u : 0u) << c.label << ": a generated password only in a made build";
  }
  // Apache takes the realm as one quoted argument: a quote in it would break every request.
  job.SetAuth("/srv/.htpasswd", "Members \"VIP\" area");
  EXPECT_EQ(FailureMessage<text::Exception>([&] { job.StartBuild(); }),
            Sjis("AuthName に「\"」は使えません。Apache が .htaccess を読めなくなります"));
}

TEST_F(Job, ALoginIsLookedUpByTheNameBytesTheServerCompares) {
  const std::string file = "alice:" + DesCrypt("pw", "ab") + "\n" + "ユーザ:" + DesCrypt("pw", "cd") + "\n";
  WriteBytes(dir.File("existing"), file);
  job.SetSettings({hashes::Format::Des, {}, true});
  job.OpenHtpasswd(dir.File("existing"));
  Add("new", "x");
  const struct {
    std::string name;
    std::optional<std::string> hash;
  } cases[] = {
      {"alice", DesCrypt("pw", "ab")}, {"ALICE", std::nullopt}, {"ユーザ", DesCrypt("pw", "cd")},
      {Sjis("ユーザ"), std::nullopt},   {"", std::nullopt},      {"new", ""},  // built later
  };
  for (const auto& c : cases) EXPECT_EQ(job.HashForLogin(c.name), c.hash) << c.name;
  ASSERT_TRUE(Build());
  EXPECT_TRUE(hashes::Verify("x", job.HashForLogin("new").value()));
}

TEST(Encoding, AFileLooksWrittenInTheEncodingItsBytesTell) {
  const std::pair<std::string, core::FileEncoding> cases[] = {
      {"alice:x\n", core::FileEncoding::Either},       {"ユーザ:x\n", core::FileEncoding::Utf8},
      {Sjis("ユーザ") + ":x\n", core::FileEncoding::ShiftJis}, {"\xFF\xFF:x\n", core::FileEncoding::Either},
  };
  for (const auto& [bytes, looks] : cases) EXPECT_EQ(core::LooksLike(bytes), looks) << bytes;
}

TEST_F(Job, AnOpenedFileGoesBackLineForLineUnlessChanged) {
  const std::string alice = "alice:" + Apr1("apw", "abcdefgh");
  crypt_data data{};
  const std::string sha256 = crypt_r("spw", "$5$saltsalt", &data);
  // Lines a server skips or reads in its own way, each kept where it stands.
  const std::string file = "# managed by ops\n" + alice + "\r\n\r\nsha:" + sha256 + "\nuser4:pass4\r\nalice:" +
                           Apr1("old", "12345678") + "\nname=with:" + Apr1("x", "abcdefgh") + "\n" +
                           "\xE3\x82\xAB\xE3\x82\x99" "\xE3\x82\xB9\xE3\x83\x88:" + Apr1("g", "abcdefgh") + "\n" +
                           "\xEF\xA4\xA9:" + Apr1("f", "abcdefgh") + "\nuser\xC3\xA6:" + Apr1("u", "abcdefgh");
  WriteBytes(dir.File(".htpasswd"), file);
  for (const bool utf8 : {false, true}) {
    for (const hashes::Format format : {hashes::Format::Des, hashes::Format::Bcrypt}) {
      job.SetSettings({format, {4, 1000}, utf8});
      job.OpenHtpasswd(dir.File(".htpasswd"));
      // Opened in either mode, then built in the other: nothing is changed, so nothing is rewritten.
      job.SetSettings({format, {4, 1000}, !utf8});
      ASSERT_TRUE(Build());
      EXPECT_EQ(job.Result()->htpasswd, file) << utf8;
    }
  }
  EXPECT_EQ(table.Strings().Held(1), sha256) << "a SHA-256 crypt line is a user like any other";
  // One user changed, one renamed, one removed: only their lines change.
  job.SetSettings({hashes::Format::Des, {}, false});
  job.OpenHtpasswd(dir.File(".htpasswd"));
  table.SetCellText(table::ValueColumn, 1, "new");
  table.SetCellText(table::KeyColumn, 2, "sha2");
  table.RemoveRow(3);
  ASSERT_TRUE(Build());
  std::vector<std::string> lines = text::SplitLines(job.Result()->htpasswd);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "# managed by ops");
  EXPECT_TRUE(lines[1].starts_with("alice:") && Verifies("new", lines[1].substr(6))) << lines[1];
  EXPECT_EQ(lines[3], "sha2:" + sha256) << "a hash does not depend on the name";
  EXPECT_EQ(lines[4], "user4:pass4");
  EXPECT_EQ(Users(job.Result()->htpasswd).count("alice"), 1u);

  // A file that cannot be read as lines is refused whole and leaves an empty table.
  const std::pair<const char*, std::string> refused[] = {
      {"a NUL byte", alice + std::string("\nbob:\0x\n", 8)},
      {"a line over a megabyte", alice + "\nbob:" + std::string(1 << 20, 'a') + "\n"},
  };
  for (const auto& [label, bytes] : refused) {
    WriteBytes(dir.File("bad"), bytes);
    const std::string message = FailureMessage<text::Exception>([&] { job.OpenHtpasswd(dir.File("bad")); });
    EXPECT_NE(message.find('2'), std::string::npos) << label << ": the line is named: " << message;
    EXPECT_EQ(table.Strings().Count(), 0) << label;
    EXPECT_FALSE(job.Opened()) << label;
  }
}

TEST_F(Job, ChangesOnDiskAreMergedAndEveryLossIsAskedFor) {
  const std::string base = "alice:" + Apr1("a1", "aaaaaaaa") + "\nbob:" + Apr1("b1", "bbbbbbbb") + "\nmallory:" +
                           Apr1("m1", "mmmmmmmm") + "\n";
  WriteBytes(dir.File(".htpasswd"), base);
  WriteBytes(dir.File("passwd.txt"), "bob=b1\r\nmallory=m1\r\nstale=x\r\n");
  WriteBytes(dir.File(".htaccess"), "AuthUserFile /srv/site/.htpasswd\nAuthName \"Members\"\nRewriteRule ^x$ y\n");
  const core::THtaccessSettings beside = job.OpenHtpasswd(dir.File(".htpasswd"));
  EXPECT_EQ(beside.auth_user_file, "/srv/site/.htpasswd");
  EXPECT_EQ(beside.auth_name, "Members");
  // Meanwhile another program adds dave, removes mallory and changes alice's password.
  const std::string theirs = "alice:" + Apr1("a2", "cccccccc") + "\nbob:" + Apr1("b1", "bbbbbbbb") + "\ndave:" +
                             Apr1("d1", "dddddddd") + "\n";
  WriteBytes(dir.File(".htpasswd"), theirs);
  Add("carol", "c1");
  job.SetAuth("/srv/site/.htpasswd", "Members");
  ASSERT_TRUE(Build());
  core::TSavePlan plan = job.PlanSave(dir.path());
  EXPECT_TRUE(plan.conflicts.empty());
  EXPECT_TRUE(plan.changes.removed.empty());
  EXPECT_EQ(plan.changes.added, 1);
  EXPECT_TRUE(plan.htaccess_differs) << "a hand-edited .htaccess is not replaced without a question";
  job.Save(plan, false);
  std::map<std::string, std::string> users = Users(ReadBytes(dir.File(".htpasswd")));
  EXPECT_EQ(users.size(), 4u);
  EXPECT_TRUE(Verifies("a2", users.at("alice")) && Verifies("d1", users.at("dave")) && Verifies("c1", users.at("carol")));
  EXPECT_EQ(users.count("mallory"), 0u);
  EXPECT_TRUE(ReadBytes(dir.File(".htaccess")).find("RewriteRule") != std::string::npos);
  EXPECT_EQ(ReadBytes(dir.File("passwd.txt")), "bob=b1\r\ncarol=c1\r\n") << "held users keep their record";
  EXPECT_EQ(FileMode(dir.File("passwd.txt")), 0600u);
  EXPECT_EQ(table.Strings().Count(), 4) << "the saved file is the one now opened";

  // Removing a user asks; a user changed on both sides asks; a change made after the plan refuses.
  table.RemoveRow(2);  // bob
  table.SetCellText(table::ValueColumn, 1, "a3");
  const std::string now = ReadBytes(dir.File(".htpasswd"));
  std::string other = now;
  other.replace(other.find(users.at("alice")), users.at("alice").size(), Apr1("a4", "eeeeeeee"));
  WriteBytes(dir.File(".htpasswd"), other);
  ASSERT_TRUE(Build());
  plan = job.PlanSave(dir.path());
  EXPECT_EQ(plan.changes.removed, std::vector<std::string>{"bob"});
  EXPECT_EQ(plan.conflicts, std::vector<std::string>{"alice"});
  WriteBytes(dir.File(".htpasswd"), now);
  EXPECT_NE(FailureMessage<text::Exception>([&] { job.Save(plan, true); }), "");
  EXPECT_EQ(ReadBytes(dir.File(".htpasswd")), now) << "nothing written";
  // Asked again and answered yes, the .htaccess there gives way to the built one.
  job.Save(job.PlanSave(dir.path()), true);
  EXPECT_EQ(ReadBytes(dir.File(".htaccess")), job.Result()->htaccess);
}

TEST_F(Job, ACredentialFileBuildsAlikeWithAndWithoutATable) {
  const std::string files[] = {",\r\nalice,1\r\n\"eve, jr\",\"p,w\" x\n\x81,\x82\rbob\n\n\xEF\xBB\xBF" "c  d e\n,\n,z",
                               "a,1\nA,2\n", "a,1\nb=c,2\n", "a,1\n \t\nb,2", "\xEF\xBB\xBF" "a,1\n\xE3\x81\x8B\xE3\x82\x99,2", ""};
  for (const bool utf8 : {false, true}) {
    job.SetSettings({hashes::Format::Des, {}, utf8});
    for (const std::string& file : files) {
      WriteBytes(dir.File("users.csv"), file);
      table.Strings().Clear();
      std::string through_table;
      const std::string refused = FailureMessage<text::Exception>([&] {
        ScriptedRandom random;
        const hashes::TScopedRandomSource scoped(random);
        job.LoadCredentials(dir.File("users.csv"));
        if (table.Strings().Count() == 0) return;
        Build();
        const core::TSavePlan plan = job.PlanSave(dir.path());
        through_table = plan.files[0].bytes + plan.files[1].bytes + plan.files[2].bytes;
      });
      ScriptedRandom random;
      const hashes::TScopedRandomSource scoped(random);
      std::optional<core::TBuiltFiles> built;
      EXPECT_EQ(FailureMessage<text::Exception>([&] {
                  built = core::BuildCredentialFile(dir.File("users.csv"), job.Settings(), "//.htpasswd", "Protected_area",
                                                    [](std::size_t, std::size_t) { return true; });
                }),
                refused) << file;
      EXPECT_EQ(built && built->users ? built->htpasswd + built->htaccess + built->passwd : "", through_table) << file << utf8;
    }
  }
}
