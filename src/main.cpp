#include "console/terminal.h"
#include "files/args.h"
#include "run/run.h"

int main(int argc, char** argv) {
  fcloak::terminal::start();
  fcloak::files::load_arguments(argc, argv);
  fcloak::run::run();
}
