# Warnings are errors for every target of the project (GCC and Clang).
function(compatcrypt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
