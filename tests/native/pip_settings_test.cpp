#include "settings/pip_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/native/support/memory_settings_system.h"

namespace kvx {
namespace {

struct NamedField {
  const char* key;
  SettingField field;
};
#define KVX_FIELD(name)       \
  NamedField {                \
#name, &PipSettings::name \
  }

// Every field named by its own key, in file order.
const NamedField kNamedFields[] = {
    KVX_FIELD(TVTunerDeviceName),
    KVX_FIELD(TVTunerDevicePath),
    KVX_FIELD(TVAudioDeviceName),
    KVX_FIELD(TVAudioDevicePath),
    KVX_FIELD(CrossbarDeviceName),
    KVX_FIELD(CrossbarDevicePath),
    KVX_FIELD(CaptureDeviceName),
    KVX_FIELD(CaptureDevicePath),
    KVX_FIELD(StreamFormat),
    KVX_FIELD(StreamSize),
    KVX_FIELD(PiPEnable),
    KVX_FIELD(PiPTVChannel),
    KVX_FIELD(PiPChannelOrder),
    KVX_FIELD(SettingsTab),
    KVX_FIELD(PiPWndPosX),
    KVX_FIELD(PiPWndPosY),
    KVX_FIELD(PiPWndSize),
    KVX_FIELD(PiPImgSize),
    KVX_FIELD(Opacity),
    KVX_FIELD(BorderColor),
    KVX_FIELD(BorderEnable),
    KVX_FIELD(VideoSystem),
    KVX_FIELD(HotKeysEnable),
    KVX_FIELD(HK_PiPOnOff),
    KVX_FIELD(HK_PiPNextChannel),
    KVX_FIELD(HK_PiPPrevChannel),
    KVX_FIELD(HK_PiPSetChannel_01),
    KVX_FIELD(HK_PiPSetChannel_02),
    KVX_FIELD(HK_PiPSetChannel_03),
    KVX_FIELD(HK_PiPSetChannel_04),
    KVX_FIELD(HK_PiPSetChannel_05),
    KVX_FIELD(HK_PiPSetChannel_06),
    KVX_FIELD(HK_PiPSetChannel_07),
    KVX_FIELD(HK_PiPSetChannel_08),
    KVX_FIELD(HK_PiPSetChannel_09),
    KVX_FIELD(HK_PiPSetChannel_10),
    KVX_FIELD(HK_PiPSetChannel_11),
    KVX_FIELD(HK_PiPSetChannel_12),
    KVX_FIELD(HK_PiPSetChannel_13),
    KVX_FIELD(HK_PiPSetChannel_14),
    KVX_FIELD(HK_PiPSetChannel_15),
    KVX_FIELD(HK_PiPSetChannel_16),
    KVX_FIELD(HK_PiPSetChannel_17),
    KVX_FIELD(HK_PiPSetChannel_18),
    KVX_FIELD(HK_PiPSetChannel_19),
    KVX_FIELD(HK_PiPSetTVMode),
    KVX_FIELD(HK_PiPSetVHSMode),
    KVX_FIELD(HK_PiPSetSVHSMode),
    KVX_FIELD(HK_PiPChannelSwap),
    KVX_FIELD(HK_PiPWndShiftLeft),
    KVX_FIELD(HK_PiPWndShiftRight),
    KVX_FIELD(HK_PiPWndShiftUp),
    KVX_FIELD(HK_PiPWndShiftDown),
    KVX_FIELD(HK_PiPWndSizePlus),
    KVX_FIELD(HK_PiPWndSizeMinus),
    KVX_FIELD(HK_PiPWndOpacityPlus),
    KVX_FIELD(HK_PiPWndOpacityMinus),
    KVX_FIELD(TVTunerDeviceNameUnique),
    KVX_FIELD(TVAudioDeviceNameUnique),
    KVX_FIELD(CrossbarDeviceNameUnique),
    KVX_FIELD(CaptureDeviceNameUnique),
};
#undef KVX_FIELD

TEST(SettingRows, EachRowReadsAndWritesTheFieldNamedByItsKey) {
  const auto rows = SettingRows();
  ASSERT_EQ(rows.size(), 61u);
  ASSERT_EQ(std::size(kNamedFields), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_STREQ(rows[i].key, kNamedFields[i].key) << "row " << i;
    EXPECT_TRUE(rows[i].field == kNamedFields[i].field) << rows[i].key;
    EXPECT_EQ(rows[i].defaultHigh, 0u) << rows[i].key;
    // Texts are kind 12; numbers are kinds 4, 5 and 6, matching their field's sign.
    const auto kind = static_cast<int>(rows[i].kind);
    if (std::holds_alternative<std::string PipSettings::*>(rows[i].field)) {
      EXPECT_EQ(kind, 12) << rows[i].key;
    } else if (std::holds_alternative<int32_t PipSettings::*>(rows[i].field)) {
      EXPECT_EQ(kind, 6) << rows[i].key;
    } else {
      EXPECT_TRUE(kind == 4 || kind == 5) << rows[i].key;
    }
  }
  // The on/off flags.
  for (const char* flag :
       {"PiPEnable", "BorderEnable", "HotKeysEnable", "TVTunerDeviceNameUnique",
        "TVAudioDeviceNameUnique", "CrossbarDeviceNameUnique", "CaptureDeviceNameUnique"}) {
    for (const SettingDescriptor& row : rows) {
      if (std::string(row.key) == flag) {
        EXPECT_EQ(static_cast<int>(row.kind), 4) << flag;
      }
    }
  }
}

class SettingKinds : public ::testing::Test {
 protected:
  SettingKinds() { system_.folders = {L"C:\\"}; }

  // Loads text, reads rows into a fresh record and saves that record with the same rows.
  std::string RoundTrip(const std::string& text, const std::vector<SettingDescriptor>& rows,
                        PipSettings& settings) {
    system_.files[L"C:\\k.ini"] = text;
    ini_.Load(system_, L"C:\\k.ini");
    LoadTable(ini_, "S", rows, settings);
    ini_.BeginWrite();
    SaveTable(ini_, rows, settings);
    return std::string(ini_.Output());
  }

  MemorySettingsSystem system_;
  IniFile ini_;
};

TEST_F(SettingKinds, EachKindKeepsItsBitsAndFormat) {
  using S = PipSettings;
  auto kind = [](int code) { return static_cast<SettingKind>(code); };
  const std::vector<SettingDescriptor> rows = {
      {kind(0), "U8", &S::Opacity, 0, nullptr, 0},
      {kind(1), "I16", &S::PiPWndPosX, 0, nullptr, 0},
      {kind(2), "U16", &S::BorderColor, 0, nullptr, 0},
      {kind(3), "U16b", &S::VideoSystem, 0, nullptr, 0},
      {kind(4), "Flag", &S::PiPEnable, 0, nullptr, 0},
      {kind(5), "U32", &S::SettingsTab, 0, nullptr, 0},
      {kind(6), "I32", &S::PiPWndPosY, 0, nullptr, 0},
      {kind(7), "U32b", &S::HK_PiPOnOff, 0, nullptr, 0},
      {kind(8), "I32b", &S::PiPWndSize, 0, nullptr, 0},
      {kind(9), "U32c", &S::HK_PiPNextChannel, 0, nullptr, 0},
      {kind(10), "I64", &S::PiPImgSize, 0, nullptr, 0},
      {kind(11), "U64", &S::HK_PiPPrevChannel, 0, nullptr, 0},
      {kind(12), "Text", &S::CaptureDeviceName, 0, "none", 0},
  };
  PipSettings settings;
  const std::string out = RoundTrip(
      "[S]\nU8=300\nI16=40000\nU16=70000\nU16b=-1\nFlag=2\nU32=-2\nI32=3000000000\nU32b=7\n"
      "I32b=-8\nU32c=4294967295\nI64=-5\nU64=6\nText= x \n",
      rows, settings);
  EXPECT_EQ(settings.Opacity, 44u);
  EXPECT_EQ(settings.PiPWndPosX, -25536);
  EXPECT_EQ(settings.BorderColor, 4464u);
  EXPECT_EQ(settings.VideoSystem, 65535u);
  EXPECT_EQ(settings.PiPEnable, 2u);
  EXPECT_EQ(settings.SettingsTab, 4294967294u);
  EXPECT_EQ(settings.PiPWndPosY, -1294967296);
  EXPECT_EQ(settings.CaptureDeviceName, " x ");
  EXPECT_EQ(out,
            "U8=44\r\nI16=-25536\r\nU16=4464\r\nU16b=65535\r\nFlag=2\r\nU32=4294967294\r\n"
            "I32=-1294967296\r\nU32b=7\r\nI32b=-8\r\nU32c=4294967295\r\nI64=-5\r\nU64=6\r\n"
            "Text= x \r\n");
}

TEST_F(SettingKinds, DefaultsFillAbsentKeysAndUnknownKindsAreSkipped) {
  using S = PipSettings;
  const std::vector<SettingDescriptor> rows = {
      {SettingKind::kInt32, "A", &S::PiPWndPosX, 0xFFFFFF9Cu, nullptr, 0},
      {SettingKind::kUInt8, "B", &S::Opacity, 0x1FF, nullptr, 0},
      {SettingKind::kText, "C", &S::TVTunerDeviceName, 0, "< None >", 0},
      {static_cast<SettingKind>(13), "D", &S::PiPWndSize, 5, nullptr, 0},
      // A kind that does not fit its field.
      {SettingKind::kText, "E", &S::PiPImgSize, 5, "x", 0},
      {SettingKind::kInt32, "F", &S::CaptureDeviceName, 5, nullptr, 0},
  };
  PipSettings settings;
  settings.PiPWndSize = 77;
  settings.PiPImgSize = 78;
  settings.CaptureDeviceName = "kept";
  const std::string out = RoundTrip("[S]\nA=\nD=1\nE=2\nF=3\n", rows, settings);
  EXPECT_EQ(settings.PiPWndPosX, -100);
  EXPECT_EQ(settings.Opacity, 0xFFu);
  EXPECT_EQ(settings.TVTunerDeviceName, "< None >");
  EXPECT_EQ(settings.PiPWndSize, 77);
  EXPECT_EQ(settings.PiPImgSize, 78);
  EXPECT_EQ(settings.CaptureDeviceName, "kept");
  EXPECT_EQ(out, "A=-100\r\nB=255\r\nC=< None >\r\n");
}

}  // namespace
}  // namespace kvx
