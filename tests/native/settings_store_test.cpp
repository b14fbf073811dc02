#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/native/support/default_settings_file.h"
#include "tests/native/support/memory_settings_system.h"

namespace kvx {
namespace {

HostChannel g_channels[2];

HostChannel* KVX_CDECL TwoChannels(int32_t position) {
  return position >= 0 && position < 2 ? &g_channels[position] : nullptr;
}

TEST(SettingsStore, HostWithoutLookupHasNoChannels) {
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().HostChannelAt(0), nullptr);
  HostCallbacks none{nullptr, nullptr};
  LoadSettings(&none);
  EXPECT_EQ(Settings().HostChannelAt(0), nullptr);
}

TEST(SettingsStore, KeepsTheHostsCallbacks) {
  int reserved = 0;
  HostCallbacks callbacks{&TwoChannels, &reserved};
  LoadSettings(&callbacks);
  EXPECT_EQ(Settings().HostChannelAt(1), &g_channels[1]);
  EXPECT_EQ(Settings().HostChannelAt(2), nullptr);
  EXPECT_EQ(Settings().host.reserved, &reserved);
}

TEST(SettingsStore, WithoutASystemEverySettingIsItsDefaultAndNothingIsSaved) {
  Settings().current.Opacity = 3;
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().current, PipSettings::Defaults());
  EXPECT_EQ(Settings().current.Opacity, 60u);
  EXPECT_EQ(Settings().location.path, L"");
  SaveSettings();
}

// The text of kDefaultSettingsFile with whole lines replaced: {"Key=old", "Key=new"}.
std::string DefaultFileWith(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::string text = kDefaultSettingsFile;
  for (const auto& [from, to] : changes) {
    const size_t at = text.find("\n" + from + "\r");
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
      text.replace(at + 1, from.size(), to);
    }
  }
  return text;
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetSettingsSystemForTesting(&system_); }
  void TearDown() override { SetSettingsSystemForTesting(previous_); }

  // One run of the plug-in: Init, whatever change does, Done.
  void Run(void (*change)(SettingsStore&) = nullptr) {
    LoadSettings(nullptr);
    if (change != nullptr) {
      change(Settings());
    }
    SaveSettings();
  }
  std::string& File() { return system_.files[kHostFolderIni]; }

  MemorySettingsSystem system_ = HostFolderSystem();
  SettingsSystem* previous_ = nullptr;
};

TEST_F(SettingsFile, AMissingFileGetsEveryDefaultByteForByte) {
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().location.path, kHostFolderIni);
  EXPECT_EQ(system_.files.count(kHostFolderIni), 1u) << "created empty at Init";
  EXPECT_EQ(File(), "");
  EXPECT_EQ(Settings().current, PipSettings::Defaults());
  EXPECT_EQ(Settings().current.CaptureDeviceName, "< None >");
  EXPECT_EQ(Settings().current.HK_PiPWndOpacityMinus, 0x0A6Fu);
  EXPECT_EQ(Settings().GetDialogPos().x, -100);
  EXPECT_EQ(Settings().GetDialogPos().y, -100);
  SaveSettings();
  EXPECT_EQ(File(), kDefaultSettingsFile);
  EXPECT_EQ(system_.writes, 1);
}

TEST_F(SettingsFile, AnUnchangedRunLeavesTheFileUntouched) {
  File() = kDefaultSettingsFile;
  Run();
  EXPECT_EQ(system_.writes, 0);

  // The same with values of the user's own, as the plug-in wrote them.
  const std::string own = DefaultFileWith(
      {{"PiPWndPosX=650", "PiPWndPosX=-20"},
       {"CaptureDeviceName=< None >", "CaptureDeviceName=\xD2\xE2 \xEA\xE0\xF0\xF2\xE0 "},
       {"HK_PiPOnOff=592", "HK_PiPOnOff=0"},
       {"DlgWndPosX=-100", "DlgWndPosX=40"}});
  File() = own;
  Run();
  EXPECT_EQ(system_.writes, 0);
  EXPECT_EQ(Settings().current.PiPWndPosX, -20);
  EXPECT_EQ(Settings().current.CaptureDeviceName, "\xD2\xE2 \xEA\xE0\xF0\xF2\xE0 ");
  EXPECT_EQ(Settings().current.HK_PiPOnOff, 0u);
  EXPECT_EQ(Settings().DlgWndPosX, 40);

  // A change that is undone before Done is no change.
  Run([](SettingsStore& store) {
    store.current.Opacity = 5;
    store.current.Opacity = 60;
  });
  EXPECT_EQ(system_.writes, 0);
}

TEST_F(SettingsFile, AChangeRewritesTheFileInItsOwnForm) {
  File() = kDefaultSettingsFile;
  Run([](SettingsStore& store) {
    store.current.PiPWndPosX = 700;
    store.current.CaptureDevicePath = "\\\\?\\usb#vid_1234&pid_5678#1#{65e8773d}\\global";
    store.SetDialogPos(12, -3);
  });
  EXPECT_EQ(system_.writes, 1);
  EXPECT_EQ(File(), DefaultFileWith({{"DlgWndPosX=-100", "DlgWndPosX=12"},
                                     {"DlgWndPosY=-100", "DlgWndPosY=-3"},
                                     {"CaptureDevicePath=",
                                      "CaptureDevicePath=\\\\?\\usb#vid_1234&pid_5678#1#{65e8773d}"
                                      "\\global"},
                                     {"PiPWndPosX=650", "PiPWndPosX=700"}}));
  // The next run reads back what was saved and changes nothing.
  Run();
  EXPECT_EQ(system_.writes, 1);
  EXPECT_EQ(Settings().current.PiPWndPosX, 700);
  EXPECT_EQ(Settings().GetDialogPos().y, -3);
}

TEST_F(SettingsFile, AHandEditedFileKeepsItsOwnTextUntilASettingChanges) {
  const std::string edited =
      "; my settings\n"
      "[DIALOG]\n"
      "DlgWndPosX = 100\n"
      "[COMMON]\n"
      "Opacity= 75\n"
      "TVTunerDeviceName=My tuner \n"
      "Unknown=1\n"
      "\n"
      "[PROFILE2]\n"
      "Opacity=10\n";
  File() = edited;
  Run();
  EXPECT_EQ(system_.writes, 0);
  EXPECT_EQ(File(), edited);
  EXPECT_EQ(Settings().current.Opacity, 75u);
  EXPECT_EQ(Settings().current.TVTunerDeviceName, "My tuner ");
  EXPECT_EQ(Settings().current.PiPWndSize, 30) << "missing keys take their defaults";
  EXPECT_EQ(Settings().DlgWndPosX, 100);
  EXPECT_EQ(Settings().DlgWndPosY, -100);

  Run([](SettingsStore& store) { store.current.PiPEnable = 0; });
  EXPECT_EQ(system_.writes, 1);
  EXPECT_EQ(File(), DefaultFileWith({{"DlgWndPosX=-100", "DlgWndPosX=100"},
                                     {"TVTunerDeviceName=< None >", "TVTunerDeviceName=My tuner "},
                                     {"PiPEnable=1", "PiPEnable=0"},
                                     {"Opacity=60", "Opacity=75"}}));
}

TEST_F(SettingsFile, AFileThatCouldNotBeReadAtInitIsNotOverwritten) {
  const std::string own = DefaultFileWith({{"Opacity=60", "Opacity=90"}});
  File() = own;
  system_.locked.insert(kHostFolderIni);
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().current.Opacity, 60u) << "the defaults stand in";
  // The lock is gone by Done, and a setting changed meanwhile.
  system_.locked.clear();
  Settings().current.PiPWndSize = 40;
  SaveSettings();
  EXPECT_EQ(system_.writes, 0);
  EXPECT_EQ(File(), own);
}

TEST_F(SettingsFile, PartialFilesFillTheRestWithDefaults) {
  File() = "[DIALOG]\r\nDlgWndPosX=5\r\nDlgWndPosY=6\r\n";
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().current, PipSettings::Defaults());
  EXPECT_EQ(Settings().GetDialogPos().x, 5);

  // No DIALOG section and no hotkeys.
  File() = "[COMMON]\r\nOpacity=10\r\n";
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().GetDialogPos().x, -100);
  EXPECT_EQ(Settings().GetDialogPos().y, -100);
  EXPECT_EQ(Settings().current.HK_PiPOnOff, 592u);
  EXPECT_EQ(Settings().current.HK_PiPSetChannel_10, 1632u);
  Settings().current.Opacity = 20;
  SaveSettings();
  EXPECT_EQ(File(), DefaultFileWith({{"Opacity=60", "Opacity=20"}}));
}

TEST_F(SettingsFile, EmptyTextsComeBackAsTheyMean) {
  File() = kDefaultSettingsFile;
  Run([](SettingsStore& store) {
    store.current.TVTunerDeviceName = "";
    store.current.TVTunerDevicePath = "";
    store.current.TVAudioDevicePath = "path";
  });
  EXPECT_NE(File().find("\nTVTunerDeviceName=\r\nTVTunerDevicePath=\r\n"), std::string::npos);
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().current.TVTunerDeviceName, "< None >") << "empty is absent";
  EXPECT_EQ(Settings().current.TVTunerDevicePath, "");
  EXPECT_EQ(Settings().current.TVAudioDevicePath, "path");
}

TEST_F(SettingsFile, NumbersOutOfRangeWrapLikeAtoi) {
  File() = DefaultFileWith({{"PiPWndPosX=650", "PiPWndPosX=4294967295"},
                            {"Opacity=60", "Opacity=-1"},
                            {"StreamSize=4", "StreamSize=  7 frames"},
                            {"VideoSystem=0", "VideoSystem=PAL"}});
  Run([](SettingsStore& store) { store.current.PiPEnable = 0; });
  EXPECT_EQ(Settings().current.PiPWndPosX, -1);
  EXPECT_EQ(Settings().current.Opacity, 4294967295u);
  EXPECT_EQ(Settings().current.StreamSize, 7);
  EXPECT_EQ(Settings().current.VideoSystem, 0u);
  EXPECT_EQ(File(), DefaultFileWith({{"StreamSize=4", "StreamSize=7"},
                                     {"PiPEnable=1", "PiPEnable=0"},
                                     {"PiPWndPosX=650", "PiPWndPosX=-1"},
                                     {"Opacity=60", "Opacity=4294967295"}}));
}

TEST_F(SettingsFile, AMissingInstanceFolderGivesDefaultsAndNoFile) {
  system_.facts.commandLine = L"Zorvinta.exe /inst:2";
  File() = DefaultFileWith({{"Opacity=60", "Opacity=1"}});
  Run([](SettingsStore& store) { store.current.Opacity = 2; });
  EXPECT_EQ(Settings().location.path, L"C:\\Zorvinta\\Instances\\2\\Plugins\\KVX_PiP.ini");
  EXPECT_EQ(Settings().location.instanceId, L"2");
  EXPECT_EQ(system_.folders.count(L"C:\\Zorvinta\\Instances\\2\\Plugins\\"), 0u);
  EXPECT_EQ(system_.writes, 0);

  // Once the instance folder exists, its Plugins folder is made and the file written.
  system_.folders.insert(L"C:\\Zorvinta\\Instances\\2\\");
  Run();
  EXPECT_EQ(system_.files[L"C:\\Zorvinta\\Instances\\2\\Plugins\\KVX_PiP.ini"],
            kDefaultSettingsFile);
  EXPECT_EQ(File(), DefaultFileWith({{"Opacity=60", "Opacity=1"}})) << "another instance's";
}

TEST_F(SettingsFile, WithoutAVersionNothingIsReadOrWritten) {
  File() = DefaultFileWith({{"Opacity=60", "Opacity=1"}});
  system_.facts.versionKnown = false;
  system_.facts.commandLine = L"Zorvinta.exe /inst:2";
  Run([](SettingsStore& store) { store.current.Opacity = 2; });
  EXPECT_EQ(Settings().location.instanceId, L"");
  EXPECT_EQ(system_.writes, 0);
  EXPECT_EQ(File(), DefaultFileWith({{"Opacity=60", "Opacity=1"}}));
}

TEST_F(SettingsFile, RestoreGivesBackTheSnapshot) {
  LoadSettings(nullptr);
  SettingsStore& store = Settings();
  // Without a snapshot there is nothing to go back to.
  store.current.Opacity = 1;
  store.Restore();
  EXPECT_EQ(store.current.Opacity, 1u);

  store.current.CaptureDeviceName = "Card";
  store.current.HK_PiPWndShiftDown = 7;
  store.current.PiPChannelOrder = -3;
  store.Snapshot();
  const PipSettings taken = store.current;
  store.current.CaptureDeviceName = "Other";
  store.current.HK_PiPWndShiftDown = 8;
  store.current.PiPChannelOrder = 4;
  store.current.BorderColor = 0xFF;
  store.Restore();
  EXPECT_EQ(store.current, taken);
  EXPECT_EQ(store.current.CaptureDeviceName, "Card");
  // A second cancel gives the same snapshot again.
  store.current.Opacity = 99;
  store.Restore();
  EXPECT_EQ(store.current, taken);

  // A new load forgets the old snapshot.
  LoadSettings(nullptr);
  store.current.Opacity = 42;
  store.Restore();
  EXPECT_EQ(store.current.Opacity, 42u);

  store.SetDialogPos(-7, 300);
  EXPECT_EQ(store.GetDialogPos().x, -7);
  EXPECT_EQ(store.GetDialogPos().y, 300);
  EXPECT_EQ(store.DlgWndPosY, 300);
}

}  // namespace
}  // namespace kvx
