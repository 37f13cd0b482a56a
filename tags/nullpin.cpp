#include "tags/nullpin.h"

namespace {
constexpr const char* kSourceTag = "nullpin\\source\\nullpin";
}

NodeData* Nullpin::Alloc() {
  return NewObj<Nullpin>(kSourceTag, __LINE__);
}
