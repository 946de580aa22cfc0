# The linux-dist preset: Debian 11's own compilers, run inside its build root, so that the binary
# needs glibc 2.31 and nothing newer. scripts/release makes the root and runs the build.
set(CMAKE_C_COMPILER "${CMAKE_CURRENT_LIST_DIR}/debian11/cc")
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/debian11/c++")
