#include "settings/host_windows.h"

namespace kvx {

void FindHostWindows() {
  // The search by class and title is not written yet; the handles stay null, so no hook is
  // installed and nothing is sent to the host.
}

}  // namespace kvx
