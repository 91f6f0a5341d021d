#include "console/terminal.h"
#include "fakes.h"

namespace fcloak::fake {

std::string output;
std::string errors;
std::string input;
int not_gbk_after = -1;
bool stdin_console = false;
bool stdout_console = false;
std::deque<std::string> keys;
int key_reads = 0;
int write_status = 0;
bool interrupt_requested = false;
bool lines_in_unicode = false;
bool hidden = false;
std::deque<clock::Time> clock_readings;

void reset() {
  output.clear();
  errors.clear();
  input.clear();
  not_gbk_after = -1;
  stdin_console = false;
  stdout_console = false;
  keys.clear();
  key_reads = 0;
  write_status = 0;
  interrupt_requested = false;
  lines_in_unicode = false;
  hidden = false;
  clock_readings.clear();
}

}  // namespace fcloak::fake

namespace fcloak::terminal {

void start() {}
bool stdin_is_console() { return fake::stdin_console; }
bool stdout_is_console() { return fake::stdout_console; }
void text_to_standard_error() {}
void lines_from_console() {}

WriteStatus write_out(const char* bytes, int n, bool) {
  if (fake::write_status != kWritten) return static_cast<WriteStatus>(fake::write_status);
  fake::output.append(bytes, static_cast<std::size_t>(n));
  return kWritten;
}

WriteStatus write_name(const char* bytes, int n) { return write_out(bytes, n, false); }

void write_error(const char* bytes, int n, bool) { fake::errors.append(bytes, static_cast<std::size_t>(n)); }

const char* line_end() { return "\n"; }

int read_key_press(unsigned char key[2]) {
  ++fake::key_reads;
  if (fake::keys.empty()) return 0;
  std::string k = fake::keys.front();
  fake::keys.pop_front();
  for (std::size_t i = 0; i < k.size() && i < 2; ++i) key[i] = static_cast<unsigned char>(k[i]);
  return static_cast<int>(k.size());
}

int read_input_byte(unsigned char& byte) {
  if (fake::not_gbk_after == 0) {
    fake::not_gbk_after = -1;
    return kNotGbk;
  }
  if (fake::not_gbk_after > 0) --fake::not_gbk_after;
  if (fake::input.empty()) return 0;
  byte = static_cast<unsigned char>(fake::input.front());
  fake::input.erase(0, 1);
  return 1;
}

bool lines_in_unicode() { return fake::lines_in_unicode; }

void hide_typed_lines() {
  if (!fake::stdin_console) return;
  fake::hidden = true;
  fake::output += fake::kHideMark;
}

void show_typed_lines() {
  if (!fake::hidden) return;
  fake::hidden = false;
  fake::output += fake::kShowMark;
}

void discard_pending_input() {}

bool pause_at_end(bool through_path) { return through_path; }

bool console_of_its_own() { return false; }

bool interrupted() { return fake::interrupt_requested; }

[[noreturn]] void exit_process(int status) { throw fake::Exit{status}; }

}  // namespace fcloak::terminal
