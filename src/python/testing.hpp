// gyrelle._native._testing: a probe class and functions that drive the calling frame, the
// converters and the Array makers from the test suite. Not part of the public interface.
#pragma once

#include "python/frame.hpp"

namespace gy::py {

Ref make_testing_module();

}  // namespace gy::py
