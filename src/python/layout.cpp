#include "python/layout.hpp"

#include "python/convert.hpp"

namespace gy::py {
namespace {

// Stands in for the layout record until the layout engine lands.
struct PendingLayout {};

PyResult<PendingLayout> construct(Call&, Args&) {
  return raise(PyExc_NotImplementedError, "Layout cannot be built yet: the layout engine is not part of this build");
}

constexpr ClassDef layout_class{"Layout",
                                "Layout(recipe=None)\n--\n\n"
                                "A puzzle's stickers numbered face by face, and the moves over them."};
constexpr Constructor layout_new{&construct, Release::yes};

constinit OnceObject layout_cell;

}  // namespace

template <>
PyTypeObject* type_object<PendingLayout>() {
  return make_type<PendingLayout, layout_class, layout_new>(layout_cell);
}

PyTypeObject* layout_type_object() { return type_object<PendingLayout>(); }

}  // namespace gy::py
