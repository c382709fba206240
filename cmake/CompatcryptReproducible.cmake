# Builds of one commit give the same bytes wherever the source tree and the
# build tree are: the paths the compiler writes into objects (__FILE__ in
# assertions, debug information) are written relative to those two trees.
# The build tree is mapped last, so that GCC and clang, which try the last
# mapping first, take it for a build tree inside the source tree.
if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
endif()

# Programs and modules linked against the libraries of the build tree find
# them there by a run path relative to themselves ($ORIGIN/...), the same
# string in every build tree. Installation rewrites the run path in place,
# inside the space the build's took: a build path of another length would
# leave the installed files laid out differently.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
