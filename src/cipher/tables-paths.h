// The processor's own ways of running the transform, between tables.cpp and
// the one file of the processor family that CMake picks: tables-x86.cpp, or
// tables-generic.cpp where there are none.
#pragma once

namespace fcloak::cipher {

// A kernel transforms whole vectors of bytes from the front of the block,
// reading the tables at the same positions, and returns how many bytes it
// did (a multiple of its width, at most count); the caller does the rest.
using TransformKernel = int (*)(unsigned char* block, int count);

struct TransformPath {
  const char* name;
  bool (*runs)();  // whether this processor has the instructions
  TransformKernel encrypt;  // add, then rotate left
  TransformKernel decrypt;  // rotate left by (entry AND 7), then add
};

// Slower first: transform_block takes the last one that runs.
int processor_path_count();
const TransformPath& processor_path(int index);

}  // namespace fcloak::cipher
