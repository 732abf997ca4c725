// The page's core: the window's job (core::TJob over a table::TUserList) behind a few C functions
// that the page's Web Worker calls. Texts go in as UTF-8 (what a browser types) and come out as
// UTF-8 for the screen; file bytes go in and out untouched. Answers are JSON texts, valid until the
// next call.
#include <emscripten.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/cell_marks.h"
#include "core/encoding.h"
#include "core/job.h"
#include "hashes/formats.h"
#include "hashes/hashes.h"
#include "hashes/random_source.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "table/user_list.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "web_seams.h"

namespace {

// Every salt and generated password comes from the browser's cryptographic source.
EM_JS(void, BrowserRandom, (std::uint8_t * out, std::size_t size), {
  for (let i = 0; i < size; i += 65536) crypto.getRandomValues(HEAPU8.subarray(out + i, out + Math.min(size, i + 65536)));
});

class TBrowserRandom final : public hashes::TRandomSource {
 public:
  void Fill(std::uint8_t* out, std::size_t size) override { BrowserRandom(out, size); }
};

// The cell being edited holds what the page typed; a character the table cannot store is refused
// when the cell is handed over, with the window's message.
class TPageEditor final : public table::TCellEditor {
 public:
  std::string text;     // code page 932
  std::string refusal;  // the message, when the typed text has no code page 932 form
  std::string Text() const override {
    if (!refusal.empty()) throw text::Exception(refusal);
    return text;
  }
  void Show(table::Column, int, std::string_view loaded) override {
    text = loaded;
    refusal.clear();
  }
  void Hide() override {}
  bool Restore(std::string_view loaded) override {
    const bool changed = text != loaded || !refusal.empty();
    text = loaded;
    refusal.clear();
    return changed;
  }
  void SelectAll() override {}
};

struct TPage {
  table::TUserList table;
  core::TJob job{table};
  TPageEditor editor;
  std::unique_ptr<core::TBuildRun> run;
  std::vector<core::TFileToSave> files;  // the last save's files
  std::string answer;
  TPage() { table.SetEditor(&editor); }
};

TPage& Page() {
  static TBrowserRandom random;
  static hashes::TScopedRandomSource use_it(random);
  static TPage page;
  return page;
}

std::string Screen(std::string_view cp932) { return platform::Cp932ToUtf8(cp932); }

// What a file's bytes show as on the screen: UTF-8 files as they are, the others as code page 932.
std::string ScreenBytes(std::string_view bytes, bool utf8) { return utf8 ? std::string(bytes) : Screen(bytes); }

std::string Json(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* Answer(std::string json) {
  Page().answer = std::move(json);
  return Page().answer.c_str();
}

const char* Ok() { return Answer("{\"ok\":true}"); }

// A failure as the window shows it: the message, naming the file and line where it is about one.
const char* Failed(const text::Exception& failure) {
  std::string message = Screen(failure.Message());
  const std::string& path = failure.Facts().path;
  if (!path.empty() && message.find(path) == std::string::npos) {
    const std::string name = path.substr(path.rfind('/') + 1);
    message = name + ": " + message;
  }
  return Answer("{\"ok\":false,\"error\":" + Json(message) + "}");
}

const char* Failed(std::string_view utf8) { return Answer("{\"ok\":false,\"error\":" + Json(utf8) + "}"); }

std::string In(const char* data, std::size_t size) { return std::string(data, size); }

// Typed text as the table stores it (code page 932), or the window's message for the first
// character that has no place there; in UTF-8 mode a character is refused that would come back
// as another one.
bool Cp932Typed(std::string_view utf8, bool exact, std::string& bytes, std::string& refusal) {
  if (!exact) {
    if (std::optional<std::string> converted = platform::Utf8ToCp932(utf8)) {
      bytes = std::move(*converted);
      return true;
    }
  }
  core::TCp932OrBadChar converted = core::ExactCp932(utf8);
  if (converted.ok) {
    bytes = std::move(converted.bytes);
    return true;
  }
  refusal = text::FormatMessage(messages::SNotCp932, {converted.bad_char});
  return false;
}

std::string DirectFileName(std::string_view name) {
  const std::size_t slash = name.find_last_of('/');
  std::string safe(slash == std::string_view::npos ? name : name.substr(slash + 1));
  if (safe.empty() || safe == "." || safe == "..") safe = "file";
  return safe;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw text::EFCreateError(path, errno);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The texts the page's script words itself, by their names in the message table.
constexpr std::pair<std::string_view, std::string_view> kPageTexts[] = {
    {"SUserNameHeader", messages::SUserNameHeader}, {"SPasswordHeader", messages::SPasswordHeader},
    {"SHeldPlaceholder", messages::SHeldPlaceholder}, {"SCellCaption", messages::SCellCaption},
    {"SRemoveRowButton", messages::SRemoveRowButton}, {"SRemoveRowCaption", messages::SRemoveRowCaption},
    {"SUserCount", messages::SUserCount}, {"SDeleteRowQuestion", messages::SDeleteRowQuestion},
    {"SLoaded", messages::SLoaded}, {"SOpened", messages::SOpened},
    {"SHtpasswdInOtherEncoding", messages::SHtpasswdInOtherEncoding}, {"SBuilt", messages::SBuilt},
    {"SCancelled", messages::SCancelled}, {"SQuotedName", messages::SQuotedName},
    {"SNameSeparator", messages::SNameSeparator}, {"SRemovesUsersQuestion", messages::SRemovesUsersQuestion},
    {"SSavedIn", messages::SSavedIn}, {"SDownloads", messages::SDownloads}, {"SDownloadAgain", messages::SDownloadAgain},
    {"SNotSaved", messages::SNotSaved}, {"SInternalError", messages::SInternalError}};

template <class Step>
const char* Guarded(const Step& step) {
  try {
    return step();
  } catch (const text::Exception& failure) {
    return Failed(failure);
  } catch (const std::exception& failure) {
    return Failed(text::Utf8Message(messages::SInternalError, {failure.what()}));
  }
}

}  // namespace

extern "C" {

// The texts of kPageTexts in UTF-8, as one JSON object by their names, and under "formats" the
// labels of the hash formats in the table's order, without the menu's access keys; under "cost" and
// "rounds" the least, the most and the default strength.
EMSCRIPTEN_KEEPALIVE const char* vw_texts() {
  std::string json;
  for (const auto& [name, text] : kPageTexts) json += (json.empty() ? "{" : ",") + Json(name) + ":" + Json(Screen(text));
  std::string formats;
  for (const hashes::TFormatRow& row : hashes::kFormatRows) {
    std::string_view label = row.menu_label;
    if (const std::size_t key = label.rfind("(&"); key != std::string_view::npos) label = label.substr(0, key);
    formats += (formats.empty() ? "" : ",") + Json(label);
  }
  const hashes::TStrength defaults;
  const auto range = [](auto low, auto high, auto value) {
    return "[" + std::to_string(low) + "," + std::to_string(high) + "," + std::to_string(value) + "]";
  };
  return Answer(json + ",\"formats\":[" + formats + "],\"cost\":" +
                range(hashes::kMinBcryptCost, hashes::kMaxBcryptCost, defaults.bcrypt_cost) + ",\"rounds\":" +
                range(hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds, defaults.sha512_rounds) + "}");
}

// The settings under 設定: format as hashes::Format counts, the place of its row in the format table.
EMSCRIPTEN_KEEPALIVE const char* vw_set_settings(int format, int bcrypt_cost, double sha512_rounds, int utf8) {
  core::TSettings settings;
  settings.format = static_cast<hashes::Format>(format);
  settings.strength.bcrypt_cost = bcrypt_cost;
  settings.strength.sha512_rounds = static_cast<unsigned long>(sha512_rounds);
  settings.utf8 = utf8 != 0;
  Page().job.SetSettings(settings);
  Page().editor.text.clear();
  return Ok();
}

// AuthUserFile and AuthName as typed.
EMSCRIPTEN_KEEPALIVE const char* vw_set_auth(const char* user_file, std::size_t user_file_size, const char* name,
                                            std::size_t name_size) {
  return Guarded([&] {
    const bool exact = Page().job.Settings().utf8;
    std::string file, area, refusal;
    if (!Cp932Typed(In(user_file, user_file_size), exact, file, refusal) || !Cp932Typed(In(name, name_size), exact, area, refusal))
      return Failed(Screen(refusal));
    Page().job.SetAuth(std::move(file), std::move(area));
    return Ok();
  });
}

// ファイル読み込み (append 0) and 追加読み込み (append 1) of a credential file's bytes.
EMSCRIPTEN_KEEPALIVE const char* vw_load(const char* name, std::size_t name_size, const char* bytes, std::size_t size,
                                        int append) {
  return Guarded([&] {
    TPage& page = Page();
    page.table.AbandonEditor();
    if (!append) {
      page.job.ForgetOpened();
      page.table.Strings().Clear();
      page.table.Strings().SetExactKeys(false);
    }
    ::mkdir("/load", 0700);
    const std::string path = "/load/" + DirectFileName(In(name, name_size));
    WriteFile(path, std::string_view(bytes, size));
    struct TRemove {
      const std::string& path;
      ~TRemove() { std::remove(path.c_str()); }
    } remove{path};
    page.job.LoadCredentials(path);
    return Ok();
  });
}

// 既存の.htpasswdを開く: the file's bytes, and those of an .htaccess beside it (size -1: none).
EMSCRIPTEN_KEEPALIVE const char* vw_open(const char* name, std::size_t name_size, const char* bytes, std::size_t size,
                                        const char* htaccess, long htaccess_size) {
  return Guarded([&] {
    TPage& page = Page();
    page.table.AbandonEditor();
    // A folder of its own for each opening: an .htaccess of an earlier one is not beside this one.
    static int openings = 0;
    const std::string folder = "/site" + std::to_string(++openings);
    ::mkdir(folder.c_str(), 0700);
    const std::string path = folder + "/" + DirectFileName(In(name, name_size));
    WriteFile(path, std::string_view(bytes, size));
    if (htaccess_size >= 0) WriteFile(folder + "/.htaccess", std::string_view(htaccess, static_cast<std::size_t>(htaccess_size)));
    const core::THtaccessSettings beside = page.job.OpenHtpasswd(path);
    const core::FileEncoding looks = core::LooksLike(page.job.OpenedBytes());
    const bool utf8 = page.job.Settings().utf8;
    const bool other = looks == (utf8 ? core::FileEncoding::ShiftJis : core::FileEncoding::Utf8);
    std::string json = "{\"ok\":true,\"otherEncoding\":" + std::string(other ? "true" : "false");
    if (beside.auth_user_file) json += ",\"authUserFile\":" + Json(ScreenBytes(*beside.auth_user_file, utf8));
    if (beside.auth_name) json += ",\"authName\":" + Json(ScreenBytes(*beside.auth_name, utf8));
    json += ",\"kept\":" + std::to_string(page.job.KeptUserLines());
    if (page.job.KeptUserLines() > 0)
      json += ",\"keptMessage\":" +
              Json(Screen(text::FormatMessage(messages::SKeptUserLines, {std::to_string(page.job.KeptUserLines())})));
    return Answer(json + "}");
  });
}

// The rows as the table shows them, with the window's marks, and what the buttons may do.
EMSCRIPTEN_KEEPALIVE const char* vw_rows() {
  TPage& page = Page();
  const table::TUserRecords& strings = page.table.Strings();
  const core::TSettings& settings = page.job.Settings();
  std::string json = "{\"opened\":" + std::string(page.job.Opened() ? "true" : "false") +
                     ",\"canSave\":" + (page.job.CanSave() ? "true" : "false") + ",\"rows\":[";
  for (int i = 0; i < strings.Count(); ++i) {
    const std::string& line = strings.Get(i);
    const std::string_view key = table::TUserRecords::KeyOf(line), value = table::TUserRecords::ValueOf(line);
    const bool held = !strings.Held(i).empty();
    json += i ? ",[" : "[";
    json += Json(Screen(key)) + "," + Json(held ? "" : Screen(value)) + "," + (held ? "1" : "0") + "," +
            Json(Screen(core::NameMark(key, value, held, false))) + "," +
            Json(held ? "" : Screen(core::PasswordMark(value, settings))) + "]";
  }
  return Answer(json + "]}");
}

// Types `text` into the cell of `column` (0 name, 1 password) in data row `row` (from 1) and leaves
// the cell, as the window's editor does: a name that matches another is refused, as is a character
// the table cannot store.
EMSCRIPTEN_KEEPALIVE const char* vw_set_cell(int row, int column, const char* utf8, std::size_t size) {
  return Guarded([&] {
    TPage& page = Page();
    table::TUserList& table = page.table;
    table.AbandonEditor();
    table.MoveTo(table::ColumnAt(column), row);
    table.ShowEditor();
    std::string bytes, refusal;
    if (Cp932Typed(In(utf8, size), page.job.Settings().utf8, bytes, refusal))
      page.editor.text = std::move(bytes);
    else
      page.editor.refusal = std::move(refusal);
    try {
      table.EditorTextChanged();
      table.CloseEditor();
    } catch (...) {
      table.AbandonEditor();
      throw;
    }
    return Ok();
  });
}

// A new empty row at the end, as Down on the last row adds one; the answer gives its row.
EMSCRIPTEN_KEEPALIVE const char* vw_add_row() {
  return Guarded([&] {
    table::TUserList& table = Page().table;
    table.AbandonEditor();
    int row = table.RowCount() - 1;
    if (table.Strings().Count() > 0 && !table.IsEmptyRow(row)) row = table.InsertEntry("", "", true);
    table.MoveTo(table::Column::Key, row);
    return Answer("{\"ok\":true,\"row\":" + std::to_string(row) + "}");
  });
}

// 行の削除 of data row `row` (from 1).
EMSCRIPTEN_KEEPALIVE const char* vw_remove_row(int row) {
  return Guarded([&] {
    table::TUserList& table = Page().table;
    table.AbandonEditor();
    if (row >= 1 && row <= table.Strings().Count()) table.RemoveRow(row);
    return Ok();
  });
}

// 認証データ作成, first step: every check and draw; the hashing is then stepped by vw_build_step.
EMSCRIPTEN_KEEPALIVE const char* vw_build_start() {
  return Guarded([&] {
    TPage& page = Page();
    page.table.AbandonEditor();
    page.run = page.job.StartBuild();
    return Answer("{\"ok\":true,\"total\":" + std::to_string(page.run->Total()) + "}");
  });
}

// Hashes the next piece of the build; the number of hashes done, or -1 once there is nothing left.
EMSCRIPTEN_KEEPALIVE double vw_build_step() {
  TPage& page = Page();
  if (!page.run || !web::StepHashing()) return -1;
  return static_cast<double>(page.run->Done());
}

EMSCRIPTEN_KEEPALIVE void vw_build_cancel() {
  TPage& page = Page();
  if (page.run) page.run->Cancel();
  while (web::StepHashing()) {}
  page.run.reset();
}

// The build's result, once every step is done: the two texts for the boxes.
EMSCRIPTEN_KEEPALIVE const char* vw_build_finish() {
  return Guarded([&] {
    TPage& page = Page();
    const std::unique_ptr<core::TBuildRun> run = std::move(page.run);
    if (!run || !page.job.FinishBuild(*run)) return Failed(Screen(messages::SBuildOvertaken));
    const core::TResult& result = *page.job.Result();
    const bool utf8 = page.job.Settings().utf8;
    return Answer("{\"ok\":true,\"htaccess\":" + Json(ScreenBytes(result.htaccess, utf8)) +
                  ",\"htpasswd\":" + Json(Screen(result.htpasswd_shown)) + "}");
  });
}

// 作成したデータを保存する: the files the save writes, with what it does to an opened file's users.
// Their bytes are then had through vw_file_*.
EMSCRIPTEN_KEEPALIVE const char* vw_plan_save() {
  return Guarded([&] {
    TPage& page = Page();
    const std::string folder = page.job.Opened() ? platform::FolderOf(page.job.OpenedPath()) : "/out";
    core::TSavePlan plan = page.job.PlanSave(folder);
    page.files = plan.files;
    const bool utf8 = page.job.Settings().utf8;
    std::string json = "{\"ok\":true,\"files\":[";
    for (std::size_t i = 0; i < plan.files.size(); ++i)
      json += (i ? "," : "") + Json(plan.files[i].path.substr(plan.files[i].path.rfind('/') + 1));
    json += "],\"removed\":[";
    for (std::size_t i = 0; i < plan.changes.removed.size(); ++i)
      json += (i ? "," : "") + Json(ScreenBytes(plan.changes.removed[i], utf8));
    json += "],\"added\":" + std::to_string(plan.changes.added) + ",\"changed\":" + std::to_string(plan.changes.changed);
    return Answer(json + "}");
  });
}

EMSCRIPTEN_KEEPALIVE const char* vw_file_data(int i) { return Page().files.at(static_cast<std::size_t>(i)).bytes.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t vw_file_size(int i) { return Page().files.at(static_cast<std::size_t>(i)).bytes.size(); }

// After the files of an opened .htpasswd were saved: they are now the file being maintained, and
// the table shows it as saved, as the window's does.
EMSCRIPTEN_KEEPALIVE const char* vw_saved() {
  return Guarded([&] {
    TPage& page = Page();
    if (!page.job.Opened()) return Ok();
    for (const core::TFileToSave& file : page.files) WriteFile(file.path, file.bytes);
    // The save wrote .htpasswd beside the opened file, whatever that one was called.
    page.job.OpenHtpasswd(page.files.front().path);
    return Ok();
  });
}

// パスワードの確認 of `user` with `password`, as typed.
EMSCRIPTEN_KEEPALIVE const char* vw_check(const char* user, std::size_t user_size, const char* password,
                                         std::size_t password_size) {
  return Guarded([&] {
    TPage& page = Page();
    const std::string shown(user, user_size);
    const bool utf8 = page.job.Settings().utf8;
    // What a browser sends: the typed text's bytes in the files' encoding.
    const auto sent = [&](const std::string& typed) -> std::optional<std::string> {
      if (utf8) return typed;
      return platform::Utf8ToCp932(typed);
    };
    const auto say = [&](std::string_view format) {
      return Answer("{\"ok\":true,\"answer\":" + Json(text::Utf8Message(format, {shown})) + "}");
    };
    if (shown.empty()) return say(messages::SEnterUserName);
    const std::optional<std::string> name = sent(shown);
    const std::optional<std::string> hash = name ? page.job.HashForLogin(*name) : std::nullopt;
    if (!hash) return say(messages::SUserNotInTable);
    if (hash->empty()) return say(messages::SNoHashYet);
    const std::optional<std::string> bytes = sent(std::string(password, password_size));
    const hashes::Verdict verdict = bytes ? hashes::Check(*bytes, *hash) : hashes::Verdict::Mismatch;
    if (verdict == hashes::Verdict::Match) return say(messages::SPasswordMatches);
    if (verdict == hashes::Verdict::Mismatch) return say(messages::SPasswordDiffers);
    return say(messages::SHashUncheckable);
  });
}

}  // extern "C"
