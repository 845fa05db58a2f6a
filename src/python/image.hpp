// The Python Image class: an RGBA8 image with fills, blits, text, resizing and PNG output, wrapping
// the core Image record. An Image value returned by a body becomes a new Image object (ToPy).
#pragma once

#include "python/frame.hpp"
#include "render/framebuffer.hpp"

namespace gy::py {

// Created once per process on first use.
template <>
PyTypeObject* type_object<Image>();

}  // namespace gy::py
