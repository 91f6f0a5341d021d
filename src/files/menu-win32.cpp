// The menus on Windows: the verbs through the registry functions under
// HKEY_CURRENT_USER, the Send To shortcut through the shell's link object
// (IShellLinkW, saved and loaded by its IPersistFile).
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "console/wide-win32.h"
#include "files/menu.h"

namespace fcloak::menu {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units");

const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const char16_t* u(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// Paths of the program up to the longest the system gives; a shortcut takes
// MAX_PATH at most.
constexpr int kPathCapacity = 32768;
constexpr int kCommandCapacity = kPathCapacity + 32;
constexpr int kKeyCapacity = 512;

wchar_t program[kPathCapacity];
int program_length = 0;
wchar_t command[kCommandCapacity];
wchar_t held_command[kCommandCapacity];
wchar_t held_text[kKeyCapacity];
wchar_t key_path[kKeyCapacity];
wchar_t command_path[kKeyCapacity];
wchar_t link_path[MAX_PATH + 16];
wchar_t link_field[kPathCapacity];
constexpr wchar_t kRootName[] = L"HKEY_CURRENT_USER\\";

// Appends a NUL-terminated string to out (capacity units, n used); false
// when it does not fit.
bool append(wchar_t* out, int capacity, int& n, const wchar_t* s) {
  const int length = static_cast<int>(wcslen(s));
  if (n + length + 1 > capacity) return false;
  std::memcpy(out + n, s, static_cast<std::size_t>(length + 1) * sizeof(wchar_t));
  n += length;
  return true;
}

void add_where(Step& step, const wchar_t* name) {
  bool complete = true;
  const int n = wide::to_gbk(name, static_cast<int>(wcslen(name)), step.where + step.where_length,
                             kWhereSize - step.where_length, complete);
  if (n > 0) step.where_length += n;
}

void begin(Step& step, Entry entry) {
  step.entry = entry;
  step.outcome = Outcome::kFailed;
  step.error = 0;
  step.where_length = 0;
}

void fail(Step& step, unsigned long error) {
  step.outcome = Outcome::kFailed;
  step.error = error == 0 ? ERROR_GEN_FAILURE : error;
}

// The error code of a failed COM call: the Windows error it carries, or the
// HRESULT itself.
unsigned long error_of(HRESULT result) {
  return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<unsigned long>(result);
}

// ---------------------------------------------------------------------------
// The verbs.

// The default value of the key `path` under HKEY_CURRENT_USER as a string,
// in out: its length, or -1 when it is not there or is not a string.
// ERROR_FILE_NOT_FOUND in `status` when the key itself is not there.
int read_default(const wchar_t* path, wchar_t* out, int capacity, LSTATUS& status) {
  HKEY key;
  status = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return -1;
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>((capacity - 1) * sizeof(wchar_t));
  const LSTATUS read = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return -1;
  int n = static_cast<int>(bytes / sizeof(wchar_t));
  while (n > 0 && out[n - 1] == 0) --n;
  out[n] = 0;
  return n;
}

LSTATUS write_default(HKEY key, const wchar_t* value) {
  return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

// Deletes the key when it holds neither values nor keys; true when it is
// gone.
bool delete_if_empty(const wchar_t* path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD keys = 1, values = 1;
  const LSTATUS status =
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && keys == 0 && values == 0 && RegDeleteKeyW(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
}

// The keys between Software\Classes and the verb's key (such as "*" and
// "*\shell") that the verb's removal left empty.
void prune_above(const wchar_t* path) {
  wchar_t parent[kKeyCapacity];
  wcscpy(parent, path);
  const std::size_t classes = wcslen(w(kClasses));
  for (;;) {
    wchar_t* slash = wcsrchr(parent, L'\\');
    if (slash == nullptr || static_cast<std::size_t>(slash - parent) <= classes) return;
    *slash = 0;
    if (!delete_if_empty(parent)) return;
  }
}

// The verb's key and its command key names, and the step's `where`; false
// when they do not fit.
bool verb_paths(const Verb& verb, Step& step) {
  int n = 0;
  if (!append(key_path, kKeyCapacity, n, w(kClasses)) || !append(key_path, kKeyCapacity, n, L"\\") ||
      !append(key_path, kKeyCapacity, n, w(verb.key))) {
    return false;
  }
  int m = 0;
  if (!append(command_path, kKeyCapacity, m, key_path) || !append(command_path, kKeyCapacity, m, L"\\command")) return false;
  add_where(step, kRootName);
  add_where(step, key_path);
  return true;
}

// What the verb's key holds now: kAbsent, kForeign, or kUnchanged for ours
// (kFailed when it cannot be read). The command it holds is in held_command.
Outcome verb_state(const Verb& verb, Step& step) {
  LSTATUS status;
  const int text_length = read_default(key_path, held_text, kKeyCapacity, status);
  if (status == ERROR_FILE_NOT_FOUND) return Outcome::kAbsent;
  if (status != ERROR_SUCCESS) {
    fail(step, status);
    return Outcome::kFailed;
  }
  const int command_length = read_default(command_path, held_command, kCommandCapacity, status);
  return is_ours(verb, u(held_text), text_length, u(held_command), command_length) ? Outcome::kUnchanged
                                                                                    : Outcome::kForeign;
}

// Removes the verb's key and its command key, made by this install.
void remove_new_verb() {
  RegDeleteKeyW(HKEY_CURRENT_USER, command_path);
  RegDeleteKeyW(HKEY_CURRENT_USER, key_path);
  prune_above(key_path);
}

void install_verb(const Verb& verb, Step& step) {
  begin(step, verb.entry);
  if (!verb_paths(verb, step) ||
      command_line(u(program), program_length, verb, reinterpret_cast<char16_t*>(command), kCommandCapacity) < 0) {
    fail(step, ERROR_FILENAME_EXCED_RANGE);
    return;
  }
  const Outcome state = verb_state(verb, step);
  if (state == Outcome::kFailed) return;
  if (state == Outcome::kForeign) {
    step.outcome = Outcome::kForeign;
    return;
  }
  if (state == Outcome::kUnchanged && wcscmp(held_command, command) == 0) {
    step.outcome = Outcome::kUnchanged;
    return;
  }
  // A new key with its command key, or ours with the command of this
  // program's path.
  HKEY command_key;
  DWORD disposition = 0;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, command_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   &command_key, &disposition);
  if (status != ERROR_SUCCESS) {
    // Whatever part of the path the failed call made goes again.
    if (state == Outcome::kAbsent) remove_new_verb();
    fail(step, status);
    return;
  }
  status = write_default(command_key, command);
  RegCloseKey(command_key);
  if (status == ERROR_SUCCESS && state == Outcome::kAbsent) {
    HKEY verb_key;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, key_path, 0, KEY_SET_VALUE, &verb_key);
    if (status == ERROR_SUCCESS) {
      status = write_default(verb_key, w(verb.text));
      RegCloseKey(verb_key);
    }
  }
  if (status != ERROR_SUCCESS) {
    if (state == Outcome::kAbsent) remove_new_verb();
    fail(step, status);
    return;
  }
  step.outcome = state == Outcome::kAbsent ? Outcome::kAdded : Outcome::kUpdated;
}

// Deletes the default value of the key, then the key when nothing else is
// left in it.
LSTATUS remove_default(const wchar_t* path) {
  HKEY key;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  status = RegDeleteValueW(key, nullptr);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
  delete_if_empty(path);
  return ERROR_SUCCESS;
}

void uninstall_verb(const Verb& verb, Step& step) {
  begin(step, verb.entry);
  if (!verb_paths(verb, step)) {
    step.outcome = Outcome::kAbsent;
    return;
  }
  const Outcome state = verb_state(verb, step);
  if (state != Outcome::kUnchanged) {
    step.outcome = state;
    return;
  }
  LSTATUS status = remove_default(command_path);
  if (status == ERROR_SUCCESS) status = remove_default(key_path);
  if (status != ERROR_SUCCESS) {
    fail(step, status);
    return;
  }
  prune_above(key_path);
  step.outcome = Outcome::kRemoved;
}

// ---------------------------------------------------------------------------
// The Send To shortcut.

// The shortcut's path in link_path and the step's `where`; false, with the
// step failed, when the Send To folder is not known (`create`: made when it
// is not there). kAbsent in `absent` for a folder that is not there.
bool find_link(Step& step, bool create, bool& absent) {
  absent = false;
  PWSTR folder = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_SendTo, create ? DWORD{KF_FLAG_CREATE} : DWORD{0}, nullptr, &folder);
  if (FAILED(result)) {
    CoTaskMemFree(folder);
    const unsigned long error = error_of(result);
    absent = !create && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
    if (!absent) fail(step, error);
    return false;
  }
  int n = 0;
  const bool fits = append(link_path, MAX_PATH, n, folder) && append(link_path, MAX_PATH, n, L"\\") &&
                    append(link_path, MAX_PATH, n, w(kLinkName));
  CoTaskMemFree(folder);
  if (!fits) {
    fail(step, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  add_where(step, link_path);
  return true;
}

// A shell link object and its file interface; released when it goes.
struct Link {
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  HRESULT result = E_FAIL;

  Link() {
    result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link));
    if (SUCCEEDED(result)) result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  }
  ~Link() {
    if (file != nullptr) file->Release();
    if (link != nullptr) link->Release();
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Whether the file at link_path is a shortcut with our description.
  bool load_ours() {
    if (FAILED(file->Load(link_path, STGM_READ))) return false;
    link_field[0] = 0;
    return SUCCEEDED(link->GetDescription(link_field, kPathCapacity)) && wcscmp(link_field, w(kLinkDescription)) == 0;
  }
  // Whether it leads to this program, with no arguments.
  bool leads_here() {
    link_field[0] = 0;
    if (FAILED(link->GetPath(link_field, kPathCapacity, nullptr, SLGP_RAWPATH)) || wcscmp(link_field, program) != 0) {
      return false;
    }
    link_field[0] = 0;
    return SUCCEEDED(link->GetArguments(link_field, kPathCapacity)) && link_field[0] == 0;
  }
};

bool exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

void install_link(Step& step) {
  begin(step, Entry::kSendTo);
  bool absent;
  if (!find_link(step, true, absent)) return;
  if (program_length > MAX_PATH - 1) {
    fail(step, ERROR_FILENAME_EXCED_RANGE);
    return;
  }
  Link link;
  if (FAILED(link.result)) {
    fail(step, error_of(link.result));
    return;
  }
  const bool there = exists(link_path);
  if (there) {
    if (!link.load_ours()) {
      step.outcome = Outcome::kForeign;
      return;
    }
    if (link.leads_here()) {
      step.outcome = Outcome::kUnchanged;
      return;
    }
  }
  HRESULT result = link.link->SetPath(program);
  if (SUCCEEDED(result)) result = link.link->SetArguments(L"");
  if (SUCCEEDED(result)) result = link.link->SetDescription(w(kLinkDescription));
  if (SUCCEEDED(result)) result = link.file->Save(link_path, TRUE);
  if (FAILED(result)) {
    // A shortcut that was not there is not left half written.
    if (!there) DeleteFileW(link_path);
    fail(step, error_of(result));
    return;
  }
  step.outcome = there ? Outcome::kUpdated : Outcome::kAdded;
}

void uninstall_link(Step& step) {
  begin(step, Entry::kSendTo);
  bool absent;
  if (!find_link(step, false, absent)) {
    if (absent) step.outcome = Outcome::kAbsent;
    return;
  }
  if (!exists(link_path)) {
    step.outcome = Outcome::kAbsent;
    return;
  }
  bool ours;
  {
    Link link;
    if (FAILED(link.result)) {
      fail(step, error_of(link.result));
      return;
    }
    ours = link.load_ours();
  }
  if (!ours) {
    step.outcome = Outcome::kForeign;
  } else if (DeleteFileW(link_path)) {
    step.outcome = Outcome::kRemoved;
  } else {
    fail(step, GetLastError());
  }
}

// ---------------------------------------------------------------------------

// This program's path; false, with every step failed, when it cannot be had.
bool find_program(Report& report) {
  report.result = Result::kDone;
  const DWORD n = GetModuleFileNameW(nullptr, program, kPathCapacity);
  program_length = static_cast<int>(n);
  if (n != 0 && n < static_cast<DWORD>(kPathCapacity)) return true;
  const unsigned long error = n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
  begin(report.steps[0], Entry::kSendTo);
  fail(report.steps[0], error);
  for (int i = 0; i < kVerbs; ++i) {
    begin(report.steps[i + 1], kVerb[i].entry);
    fail(report.steps[i + 1], error);
  }
  return false;
}

// COM for the shortcut, for the time of one call.
struct Com {
  HRESULT result;
  Com() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~Com() {
    if (SUCCEEDED(result)) CoUninitialize();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
};

}  // namespace

void install(Report& report) {
  if (!find_program(report)) return;
  {
    Com com;
    install_link(report.steps[0]);
  }
  for (int i = 0; i < kVerbs; ++i) install_verb(kVerb[i], report.steps[i + 1]);
}

void uninstall(Report& report) {
  report.result = Result::kDone;
  {
    Com com;
    uninstall_link(report.steps[0]);
  }
  for (int i = 0; i < kVerbs; ++i) uninstall_verb(kVerb[i], report.steps[i + 1]);
}

}  // namespace fcloak::menu
