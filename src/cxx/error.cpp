// Error's virtual destructor is defined here, so that its type information
// and virtual table live in this library and a catch in the program matches
// what the library throws.
#include "compatcrypt.hpp"

namespace compatcrypt::inline v1 {

Error::Error(int code, const std::string &message) : std::runtime_error(message), code_(code) {}

Error::~Error() = default;

}  // namespace compatcrypt::inline v1
