#include "orwenna/command.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <iterator>

namespace orwenna::cmd {

std::vector<Registration>& registrations() {
  static std::vector<Registration> all;
  return all;
}

std::string readStandardInput() {
  return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

std::string readSecretLine(const char* prompt) {
  const bool tty = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (tty) {
    std::cerr << prompt << std::flush;
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (tty) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << '\n';
  }
  if (!got && line.empty()) throw CommandFailure("Nothing was read from standard input.");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace orwenna::cmd

namespace {

void printOverview(const CLI::App& app) {
  std::cout << "Orwenna " ORWENNA_VERSION
               " — a chat assistant for trading and moving crypto assets.\n"
               "Run `orwenna` alone to start the app; these tools are there too:\n\n";
  for (const CLI::App* sub : app.get_subcommands({})) {
    std::cout << "  orwenna " << sub->get_name();
    if (!sub->get_description().empty()) std::cout << " — " << sub->get_description();
    std::cout << '\n';
  }
  std::cout << "\nRun `orwenna --help` or `orwenna COMMAND --help` for details.\n";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Orwenna — a chat assistant for trading and moving crypto assets", "orwenna"};
  app.set_version_flag("--version", "orwenna " ORWENNA_VERSION);
  for (const auto& registration : orwenna::cmd::registrations()) registration(app);

  // Subcommands run inside parse(), through their callbacks. Alone, `orwenna`
  // starts the app.
  char serve[] = "serve";
  char* startApp[] = {argv[0], serve, nullptr};
  try {
    if (argc <= 1) {
      app.parse(2, startApp);
    } else {
      app.parse(argc, argv);
    }
    if (app.get_subcommands().empty()) printOverview(app);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const orwenna::cmd::CommandFailure& e) {
    std::cerr << e.what() << '\n';
    return e.status();
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  return 0;
}
