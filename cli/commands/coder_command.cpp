// encode / decode: the input streamed in chunks through Encoder or Decoder,
// so that the output is the one-shot encoding of the whole input however
// large it is.
#include <memory>
#include <vector>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "io/input_file.h"
#include "io/output_file.h"
#include "keys/key_options.h"
#include "support/failure.h"
#include "support/progress.h"

namespace compatcrypt::cli {

namespace {

// Read and coded bytes may be plain data: both buffers wipe themselves.
// A chunk's output may run up to 7 bytes ahead of it (held bytes of the
// chunk before), so the output buffer is a block longer.
template <typename Coder>
void Stream(InputFile &input, OutputFile &output, Coder &coder) {
  Progress progress(input.Name(), input.Size());
  SecureBytes buffer(kChunkSize);
  SecureBytes coded(kChunkSize + 8);
  std::span<std::byte> out(coded);
  for (;;) {
    const std::size_t got = input.Read(buffer);
    output.Write(out.first(coder.update(std::span(buffer).first(got), out)));
    progress.Advance(got);
    if (got < buffer.size()) break;
  }
  output.Write(out.first(coder.finish(out)));
}

int RunCoder(Direction direction, const CoderOptions &options) {
  // An empty name names no file: a usage error, found before anything is
  // opened or asked for.
  if (options.input.empty()) throw UsageError("--input", "empty file name");
  if (options.output.empty()) throw UsageError("--output", "empty file name");
  // "-o=out" gives the short option the value "=out": refused, rather than
  // writing a file of that name by surprise. "./=out" names such a file.
  for (const auto &[option, name] :
       {std::pair{"--output", &options.output}, std::pair{"--input", &options.input}})
    if (name->starts_with('='))
      throw UsageError(option,
                       "a name that starts with '=' (-o=NAME gives the name '=NAME'): write -o NAME, "
                       "--output=NAME, or ./" +
                           *name + " for a file so named");
  // The input first, so that a missing one is reported before a password
  // is asked for; the key before the output, so that a bad key creates
  // nothing.
  InputFile input(options.input);
  KeyOptions keyOptions = options.key;
  keyOptions.dataFromStandardInput = input.IsStandardInput();
  const Key key = ResolveKey(keyOptions, direction == Direction::encode);
  OutputFile output(options.output, options.force);
  if (direction == Direction::encode) {
    Encoder encoder(key);
    Stream(input, output, encoder);
  } else {
    Decoder decoder(key);
    Stream(input, output, decoder);
  }
  output.Commit();
  return 0;
}

CommandRun AddCoderCommand(CLI::App &command, Direction direction) {
  auto options = std::make_shared<CoderOptions>();
  command.add_option("-i,--input", options->input, "Input file (default '-': standard input)")
      ->type_name("IN");
  command.add_option("-o,--output", options->output, "Output file (default '-': standard output)")
      ->type_name("OUT");
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  AddKeyOptions(command, options->key, true);
  return [options, direction] { return RunCoder(direction, *options); };
}

}  // namespace

CommandRun AddEncodeCommand(CLI::App &command) { return AddCoderCommand(command, Direction::encode); }

CommandRun AddDecodeCommand(CLI::App &command) { return AddCoderCommand(command, Direction::decode); }

}  // namespace compatcrypt::cli
