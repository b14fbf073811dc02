// Ids of the plug-in's resources and of the controls in its dialog templates, shared by the
// resource script and the code. The numbers are fixed: hosts and tools may look for them.
#pragma once

// Dialog templates and the about box's picture.
#define IDD_SETTINGS 5000
#define IDD_ABOUT 5002
#define IDB_ABOUT 5004
#define IDD_DEVICE_PAGE 5008
#define IDD_HOTKEYS_PAGE 5009
#define IDD_HOTKEY_CAPTURE 5015

// Settings dialog.
#define IDC_SETTINGS_OK 5002
#define IDC_SETTINGS_CANCEL 5003
#define IDC_SETTINGS_ABOUT 5008
#define IDC_SETTINGS_TABS 5103
#define IDC_SETTINGS_STATUS 5106

// Device page.
#define IDC_POS_Y_SPIN 5076
#define IDC_POS_X_SPIN 5077
#define IDC_POS_Y_FIELD 5078
#define IDC_POS_X_FIELD 5085
#define IDC_TUNER_LIST 5086
#define IDC_CROSSBAR_LIST 5087
#define IDC_IMG_SIZE_FIELD 5088
#define IDC_IMG_SIZE_SPIN 5089
#define IDC_WND_SIZE_SPIN 5090
#define IDC_WND_SIZE_FIELD 5091
#define IDC_OPACITY_FIELD 5092
#define IDC_OPACITY_SPIN 5093
#define IDC_BORDER_COLOR 5094
#define IDC_BORDER_ENABLE 5095
#define IDC_CAPTURE_LIST 5096
#define IDC_TV_AUDIO_LIST 5097
#define IDC_STREAM_SIZE_LIST 5098
#define IDC_STREAM_FORMAT_LIST 5099
#define IDC_SAVE_DEVICES 5100
#define IDC_PIP_ENABLE 5101
#define IDC_VIDEO_STANDARD_LIST 5107
#define IDC_CAPTURE_PAGES 5108
#define IDC_TUNER_PAGES 5109
#define IDC_TV_AUDIO_PAGES 5110
#define IDC_CROSSBAR_PAGES 5111
// What the capture pin streams: format and size, beside the user's choice.
#define IDC_STREAMED_FORMAT 5112

// Hotkeys page.
#define IDC_HOTKEYS_ENABLE 5071
#define IDC_HOTKEY_LIST 5104

// Hotkey capture dialog (its OK and Cancel are IDOK and IDCANCEL).
#define IDC_HOTKEY_EDIT 5101

// Initial items of the device page's lists, in the string table; each list's items at consecutive
// ids.
#define IDS_FORMAT_ITEMS 50990
#define IDS_SIZE_ITEMS 50980
#define IDS_STANDARD_ITEMS 51070

// Captions of the settings dialog's tabs and of the hotkey list's columns, in the string table.
#define IDS_TAB_DEVICE 5200
#define IDS_TAB_HOTKEYS 5201
#define IDS_COLUMN_COMMAND 5202
#define IDS_COLUMN_HOTKEY 5203
