#include "python/batch.hpp"

#include "python/convert.hpp"

namespace gy::py {
namespace {

// Stands in for the batch record until the batch simulator lands.
struct PendingBatch {};

PyResult<PendingBatch> construct(Call&, Args&) {
  return raise(PyExc_NotImplementedError,
               "PuzzleBatch cannot be built yet: the batch simulator is not part of this build");
}

constexpr ClassDef batch_class{
    "PuzzleBatch",
    "PuzzleBatch(recipe, count, *, seed=None, scramble=None, background=None, supersample=None, "
    "show_edges=None, show_pieces=None, line_width=None, fov=None, distance=None, yaw=None, pitch=None)\n--\n\n"
    "Parallel simulator for multiple instances of a twisty puzzle."};
constexpr Constructor batch_new{&construct, Release::yes};

constinit OnceObject batch_cell;

}  // namespace

template <>
PyTypeObject* type_object<PendingBatch>() {
  return make_type<PendingBatch, batch_class, batch_new>(batch_cell);
}

PyTypeObject* batch_type_object() { return type_object<PendingBatch>(); }

}  // namespace gy::py
