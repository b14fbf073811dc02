#include "ui/device_page.h"

#include "ui/resource_ids.h"

namespace kvx {

DevicePage::DevicePage() : DialogWindow(IDD_DEVICE_PAGE) {
  InitialItems(IDC_STREAM_FORMAT_LIST, IDS_FORMAT_ITEMS, 1);
  InitialItems(IDC_STREAM_SIZE_LIST, IDS_SIZE_ITEMS, 6);
  InitialItems(IDC_VIDEO_STANDARD_LIST, IDS_STANDARD_ITEMS, 6);
}

}  // namespace kvx
