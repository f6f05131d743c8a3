// The Null Renderer: takes a stream and discards it.

#include "platform/directshow/filter.h"

namespace {

class NullRenderer final : public Filter<> {
  public:
    NullRenderer() : Filter({PINDIR_INPUT}) {}
};

} // namespace

HRESULT createNullRenderer(REFIID riid, void **object) {
    return createObject<NullRenderer>(riid, object);
}
