// The Python PuzzleBatch class: its type object. The record, its methods and __len__ join with the
// batch simulator.
#pragma once

#include "python/frame.hpp"

namespace gy::py {

// Created once per process on first use.
PyTypeObject* batch_type_object();

}  // namespace gy::py
