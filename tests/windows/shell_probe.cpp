// What tools/test-windows.sh asks of the Windows shell, built with mingw-w64
// and run under wine:
//
//   shell_probe sendto         the user's Send To folder (made when it is
//                              not there, as every Windows user has one)
//   shell_probe link FILE      a shortcut's target path, its arguments and
//                              its description, a line each
//   shell_probe run COMMAND    the command line started as the shell starts
//                              a verb's command (CreateProcessW, the console
//                              shared); ends with its exit status
//
// Output is UTF-8. Status 3 when the probe itself fails.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

namespace {

void put(const wchar_t* text) {
  char bytes[4 * MAX_PATH * 4];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  DWORD written;
  if (n > 1) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(n - 1), &written, nullptr);
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, nullptr);
}

int sendto() {
  PWSTR folder = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_SendTo, KF_FLAG_CREATE, nullptr, &folder))) return 3;
  put(folder);
  CoTaskMemFree(folder);
  return 0;
}

int link(const wchar_t* path) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  IShellLinkW* shell_link = nullptr;
  IPersistFile* file = nullptr;
  int status = 3;
  static wchar_t field[32768];
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&shell_link))) &&
      SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(path, STGM_READ))) {
    status = 0;
    field[0] = 0;
    if (FAILED(shell_link->GetPath(field, 32768, nullptr, SLGP_RAWPATH))) status = 3;
    put(field);
    field[0] = 0;
    if (FAILED(shell_link->GetArguments(field, 32768))) status = 3;
    put(field);
    field[0] = 0;
    if (FAILED(shell_link->GetDescription(field, 32768))) status = 3;
    put(field);
  }
  if (file != nullptr) file->Release();
  if (shell_link != nullptr) shell_link->Release();
  CoUninitialize();
  return status;
}

int run(const wchar_t* command) {
  static wchar_t line[32768];
  if (wcslen(command) >= 32768) return 3;
  wcscpy(line, command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 3;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"sendto") == 0) return sendto();
  if (argc == 3 && wcscmp(argv[1], L"link") == 0) return link(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"run") == 0) return run(argv[2]);
  return 3;
}
