#include "compose/geometry.h"

#include <algorithm>

namespace kvx {

bool IntersectRect(Rect* out, const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.Empty()) {
    *out = Rect{0, 0, 0, 0};
    return false;
  }
  *out = r;
  return true;
}

}  // namespace kvx
