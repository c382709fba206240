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

// One key source at most: --key, --key-file, --key-env (where a hex key is
// taken), --password-file or --password-env.
void AddKeyOptions(CLI::App &command, KeyOptions &key, bool withHex) {
  std::vector<CLI::Option *> sources;
  sources.push_back(command
                        .add_option("--password-file", key.passwordFile,
                                    "Read the password from the first line of FILE (without its LF or CRLF)")
                        ->type_name("FILE"));
  sources.push_back(
      command
          .add_option("--password-env", key.passwordEnv, "Read the password from environment variable VAR")
          ->type_name("VAR"));
  if (withHex) {
    sources.push_back(command
                          .add_option("--key", key.hex,
                                      "The 16-byte key as 32 hex digits; visible to other users of the "
                                      "system: prefer --key-file or --key-env")
                          ->type_name("HEX"));
    sources.push_back(
        command.add_option("--key-file", key.keyFile, "Read the hex key from the first line of FILE")
            ->type_name("FILE"));
    sources.push_back(
        command.add_option("--key-env", key.keyEnv, "Read the hex key from environment variable VAR")
            ->type_name("VAR"));
  }
  for (CLI::Option *source : sources)
    for (CLI::Option *other : sources)
      if (source != other) source->excludes(other);
  command.add_flag("--allow-empty-password", key.allowEmptyPassword,
                   "Accept an empty password (its key is fixed and public)");
}

constexpr const char *kCommands[] = {"digest", "encode", "decode", "keygen"};

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
    for (const char *command : kCommands)
      if (const std::size_t d = EditDistance(word, command); d < distance) distance = d, nearest = command;
    if (!nearest.empty()) message += "; did you mean '" + std::string(nearest) + "'?";
    return message + " (commands: digest, encode, decode, keygen)";
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

  DigestOptions digest;
  CLI::App *digestCommand = addCommand("digest", "Print or check the 20-byte digests of files");
  digestCommand
      ->add_option("files", digest.files,
                   "Files to digest, or with --check the lists to verify; '-' or none: standard input")
      ->type_name("FILE");
  // Checked as text: the unsigned conversion alone would wrap "-1", accept
  // numbers past the largest file offset, 2^63 - 1, and read a leading zero
  // as octal; the zeros are dropped.
  const CLI::Validator wholeNumber(
      [](std::string &text) {
        const std::size_t first = text.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : text.substr(first);
        const bool inRange = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                             (digits.size() < 19 || (digits.size() == 19 && digits <= "9223372036854775807"));
        if (!inRange) return "not a whole number from 0 to 2^63 - 1: " + text;
        text = digits;
        return std::string();
      },
      "");
  digestCommand->add_option("--offset", digest.offset, "Digest each file from byte N on (0 to 2^63 - 1)")
      ->type_name("N")
      ->transform(wholeNumber);
  // Whole numbers within bounds, as text for the same reasons as --offset.
  const auto counted = [](std::uint64_t low, std::uint64_t high, std::uint64_t multiple, std::string what) {
    return CLI::Validator(
        [=](std::string &text) {
          const std::size_t first = text.find_first_not_of('0');
          const std::string digits = first == std::string::npos ? "0" : text.substr(first);
          const bool number = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                              digits.size() <= 19;
          const std::uint64_t value = number ? std::stoull(digits) : 0;
          if (!number || value < low || value > high || value % multiple != 0) return what + ": " + text;
          text = digits;
          return std::string();
        },
        "");
  };
  digestCommand
      ->add_option("-j,--jobs", digest.jobs,
                   "Digest on N threads at once (default: the CPUs the tool may use); output as with 1")
      ->type_name("N")
      ->transform(counted(1, kMaxJobs, 1, "not a whole number from 1 to " + std::to_string(kMaxJobs)));
  // For tests: the smallest piece a large file is split into (hidden).
  digestCommand->add_option("--chunk-size", digest.chunkSize)
      ->group("")
      ->transform(counted(64, std::uint64_t{1} << 40, 64, "not a multiple of 64 from 64 to 2^40"));
  CLI::Option *check = digestCommand->add_flag(
      "-c,--check", digest.check, "Read digest lines from the FILEs and verify the files they name");
  digestCommand->add_flag("--tag", digest.tag, "Print 'compatcrypt (NAME) = HEX' lines");
  for (auto [name, flag, help] : {
           std::tuple{"--quiet", &digest.quiet, "With --check: print nothing for files that match"},
           std::tuple{"--status", &digest.status, "With --check: print nothing; the exit status tells"},
           std::tuple{"--strict", &digest.strict, "With --check: exit 1 on malformed lines"},
           std::tuple{"-w,--warn", &digest.warn, "With --check: report each malformed line"},
           std::tuple{"--ignore-missing", &digest.ignoreMissing,
                      "With --check: no failure or line for files that do not exist"},
       })
    digestCommand->add_flag(name, *flag, help)->needs(check);

  CoderOptions encode;
  CLI::App *encodeCommand = addCommand("encode", "Encode a file");
  CoderOptions decode;
  CLI::App *decodeCommand = addCommand("decode", "Decode a file");
  for (auto [command, options] : {std::pair{encodeCommand, &encode}, std::pair{decodeCommand, &decode}}) {
    command->add_option("-i,--input", options->input, "Input file (default '-': standard input)")
        ->type_name("IN");
    command->add_option("-o,--output", options->output, "Output file (default '-': standard output)")
        ->type_name("OUT");
    command->add_flag("-f,--force", options->force, "Replace an existing output file");
    AddKeyOptions(*command, options->key, true);
  }

  KeyOptions keygen;
  CLI::App *keygenCommand = addCommand("keygen", "Print the key of a password in hex");
  AddKeyOptions(*keygenCommand, keygen, false);

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
    if (*digestCommand)
      status = RunDigest(digest);
    else if (*encodeCommand)
      status = RunCoder(compatcrypt::Direction::encode, encode);
    else if (*decodeCommand)
      status = RunCoder(compatcrypt::Direction::decode, decode);
    else if (*keygenCommand)
      status = RunKeygen(keygen);
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
