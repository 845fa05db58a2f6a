// PuzzleBatch: the Python class of many copies of one puzzle, a shell over one gy::PuzzleBatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "python/frame.hpp"

namespace gy {
struct PuzzleBatch;
}

namespace gy::py {

// Created once per process on first use.
template <>
PyTypeObject* type_object<gy::PuzzleBatch>();
PyTypeObject* batch_type_object();

// The copies `which` chooses, one flag per copy: None or absent chooses all; otherwise a sequence
// of flags (bools or NumPy bools, exactly `count` of them) or else of indices below `count`.
PyResult<std::vector<std::uint8_t>> parse_which(std::size_t count, PyObject* which);

}  // namespace gy::py
