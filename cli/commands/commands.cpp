#include "commands/commands.h"

namespace compatcrypt::cli {

namespace {

constexpr Command kCommands[] = {
    {"digest", "Print or check the 20-byte digests of files", AddDigestCommand},
    {"encode", "Encode a file", AddEncodeCommand},
    {"decode", "Decode a file", AddDecodeCommand},
    {"keygen", "Print the key of a password in hex", AddKeygenCommand},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

}  // namespace compatcrypt::cli
