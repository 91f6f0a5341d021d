// Starts a program as programs that run others in the background do: on a
// console without a window (CREATE_NO_WINDOW), its standard output and
// standard error to a file, standard input this program's own. Ends with
// the program's exit status, or with status 124 when the program has not
// ended within the time given (it is then ended). For tools/test-windows.sh.
//
//   launch_no_window.exe SECONDS OUTPUT-FILE PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// An argument as the command line of the program started gets it: quoted,
// with the backslashes before a quote doubled.
void append_quoted(std::wstring& line, const wchar_t* argument) {
  line += L'"';
  int backslashes = 0;
  for (const wchar_t* p = argument; *p != L'\0'; ++p) {
    if (*p == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(static_cast<std::size_t>(*p == L'"' ? 2 * backslashes + 1 : backslashes), L'\\');
    backslashes = 0;
    line += *p;
  }
  line.append(static_cast<std::size_t>(2 * backslashes), L'\\');
  line += L'"';
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4) {
    std::fputs("usage: launch_no_window.exe SECONDS OUTPUT-FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  const DWORD limit_ms = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) * 1000;
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE output = CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "launch_no_window: cannot create the output file (error %lu)\n", GetLastError());
    return 2;
  }
  std::wstring line;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) line += L' ';
    append_quoted(line, argv[i]);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "launch_no_window: cannot start the program (error %lu)\n", GetLastError());
    return 2;
  }
  CloseHandle(output);
  if (WaitForSingleObject(process.hProcess, limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 124);
    WaitForSingleObject(process.hProcess, INFINITE);
    return 124;
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}
