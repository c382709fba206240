# Builds of one commit give the same bytes wherever the source tree and the
# build tree are: the paths the compiler writes into objects (__FILE__ in
# assertions, debug information) are written relative to those two trees.
# The build tree is mapped last, so that GCC and clang, which try the last
# mapping first, take it for a build tree inside the source tree.
if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
endif()
