// compatcrypt: digests, encoding and password keys from the command line.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "compatcrypt_cli_version.h"
#include "digest/digest_pipeline.h"
#include "support/failure.h"
#include "support/signals.h"

namespace {

using namespace compatcrypt::cli;

// The number of single-letter edits from `a` to `b`.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// What the parser found wrong, said without echoing any argument that may
// be a secret: a word the parser did not expect may be the value of a
// mistyped key or password option (--password s3cr3t, --keys HEX), so only
// option names are shown, never values. An unknown command is named, with
// the nearest command when one is close.
std::string ParseFailure(const CLI::App &parsed, const CLI::Error &error) {
  const std::vector<std::string> extras = parsed.remaining(true);
  if (parsed.get_subcommands().empty() && !extras.empty() && !extras.front().starts_with('-')) {
    const std::string &word = extras.front();
    std::string message = "unknown command " + Printable("'" + word + "'");
    std::string_view nearest;
    std::size_t distance = 3;
    std::string names;
    for (const Command &command : Commands()) {
      names += (names.empty() ? "" : ", ") + std::string(command.name);
      if (const std::size_t d = EditDistance(word, command.name); d < distance)
        distance = d, nearest = command.name;
    }
    if (!nearest.empty()) message += "; did you mean '" + std::string(nearest) + "'?";
    return message + " (commands: " + names + ")";
  }
  if (dynamic_cast<const CLI::ExtrasError *>(&error) == nullptr) return Printable(error.what());
  std::vector<std::string> options;
  std::size_t values = 0;
  for (const std::string &extra : extras) {
    if (extra.size() > 1 && extra.starts_with('-') && extra != "--")
      options.push_back(Printable(extra.substr(0, extra.find('='))));
    else
      ++values;
  }
  std::string message;
  for (std::size_t i = 0; i < options.size(); ++i)
    message +=
        (i == 0 ? (options.size() == 1 ? "unexpected option " : "unexpected options ") : ", ") + options[i];
  if (values != 0)
    message += (message.empty() ? "" : "; ") + std::to_string(values) +
               (values == 1 ? " unexpected argument" : " unexpected arguments") +
               " (not shown: it may be a key or a password)";
  return message;
}

// Standard output is checked once at the end: a digest list that could not
// be written is a failure.
int FinishStandardOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    Report("standard output", std::ferror(stdout) ? "write error" : "flush failed");
    return 1;
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"Digests, two-key triple-DES encoding and password keys in fixed byte formats.",
               "compatcrypt"};
  app.set_version_flag("--version", [] {
    return std::string("compatcrypt ") + COMPATCRYPT_VERSION + "\nengines: " + compatcrypt::engines();
  });
  // Every message of the tool starts with its name, the parser's too.
  app.failure_message([](const CLI::App *parsed, const CLI::Error &error) {
    return "compatcrypt: " + ParseFailure(*parsed, error) + "\nRun 'compatcrypt --help' for usage.\n";
  });
  app.require_subcommand(1);
  app.footer("Run 'compatcrypt COMMAND --help' for the options of a command.");
  // Subcommands would inherit the footer; it belongs to the top level only.
  const auto addCommand = [&app](const char *name, const char *description) {
    CLI::App *command = app.add_subcommand(name, description);
    command->footer("");
    return command;
  };

  std::vector<std::pair<CLI::App *, CommandRun>> runs;
  for (const Command &command : Commands()) {
    CLI::App *subcommand = addCommand(command.name, command.description);
    runs.emplace_back(subcommand, command.add(*subcommand));
  }

  try {
    TakeKeyArgument(argc, argv);
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    const int shown = app.exit(error);
    // --help and --version succeed only if their text was written.
    std::cout.flush();
    if (shown == 0 && !std::cout) {
      Report("standard output", std::strerror(errno != 0 ? errno : EIO));
      return 1;
    }
    return shown == 0 ? 0 : 2;
  }

  InstallInterruptCleanup();
  try {
    int status = 0;
    for (const auto &[subcommand, run] : runs)
      if (*subcommand) status = run();
    return FinishStandardOutput(status);
  } catch (const UsageError &failure) {
    Report(failure.subject(), failure.what());
    return 2;
  } catch (const Failure &failure) {
    Report(failure.subject(), failure.what());
  } catch (const compatcrypt::Error &error) {
    std::fprintf(stderr, "compatcrypt: %s\n", Printable(error.what()).c_str());
  } catch (const std::exception &error) {
    std::fprintf(stderr, "compatcrypt: %s\n", Printable(error.what()).c_str());
  }
  return 1;
}
