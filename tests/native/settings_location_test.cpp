#include "settings/settings_location.h"

#include <gtest/gtest.h>

#include <string>

namespace kvx {
namespace {

const std::wstring kHost = L"D:\\TV\\Zorvinta\\";
const std::wstring kAppData = L"C:\\Users\\ivan\\AppData\\Roaming";
const std::wstring kUsers = kAppData + L"\\Zorvinta\\";

LocationFacts Facts(bool nt, uint32_t storeInUsersFolder, const std::wstring& appData,
                    const std::wstring& commandLine = L"\"D:\\TV\\Zorvinta\\Zorvinta.exe\"") {
  LocationFacts facts;
  facts.versionKnown = true;
  facts.ntFamily = nt;
  facts.storeInUsersFolder = storeInUsersFolder;
  facts.appDataFolder = appData;
  facts.hostProgram = kHost + L"Zorvinta.exe";
  facts.commandLine = commandLine;
  facts.moduleFile = kHost + L"Plugins\\KVX_PiP.dll";
  return facts;
}

TEST(SettingsLocation, BaseFolderForEverySystemAndRegistryValue) {
  struct Case {
    bool nt;
    uint32_t value;
    std::wstring appData;
    std::wstring folder;  // empty: no settings file
  };
  const Case cases[] = {
      {true, 0, kAppData, kHost + L"Plugins\\"},
      {true, 1, kAppData, kUsers + L"Plugins\\"},
      {true, 0xFFFFFFFF, kAppData, kUsers + L"Plugins\\"},
      {true, 1, kAppData + L"\\", kUsers + L"Plugins\\"},
      {false, 0, kAppData, kHost + L"Plugins\\"},
      {false, 1, kAppData, kHost + L"Plugins\\"},
      {false, 1, L"", kHost + L"Plugins\\"},
      {true, 0, L"", kHost + L"Plugins\\"},
      // The users' folder was asked for but the system does not know it.
      {true, 1, L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "nt " << c.nt << " value " << c.value << " appData " << !c.appData.empty());
    const SettingsLocation location = DecideLocation(Facts(c.nt, c.value, c.appData));
    EXPECT_EQ(location.folder, c.folder);
    EXPECT_EQ(location.path, c.folder.empty() ? L"" : c.folder + L"KVX_PiP.ini");
    EXPECT_EQ(location.instanceId, L"");
  }
}

TEST(SettingsLocation, InstanceFromTheCommandLine) {
  struct Case {
    std::wstring commandLine;
    std::wstring id;
  };
  const Case cases[] = {
      {L"Zorvinta.exe", L""},
      {L"Zorvinta.exe /inst:2", L"2"},
      {L"Zorvinta.exe -inst:7 /nosplash", L"7"},
      {L"Zorvinta.exe /INST:Q", L"q"},
      {L"Zorvinta.exe -InSt:B", L"b"},
      {L"Zorvinta.exe -inst:a /inst:b", L"b"},
      {L"Zorvinta.exe /inst:b -inst:a", L"b"},
      {L"Zorvinta.exe /inst:12", L"1"},
      {L"Zorvinta.exe /inst:3 /inst:4", L"3"},
      {L"Zorvinta.exe /inst:", L""},
      {L"Zorvinta.exe -inst:5 /inst:", L""},
      {L"Zorvinta.exe /inst: 5", L" "},
      {L"Zorvinta.exe inst:5 /inst 6", L""},
      // Letters outside ASCII are taken as given.
      {L"Zorvinta.exe /inst:\u0416", L"\u0416"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.commandLine.begin(), c.commandLine.end()));
    for (uint32_t value : {0u, 1u}) {
      const SettingsLocation location = DecideLocation(Facts(true, value, kAppData, c.commandLine));
      const std::wstring base = value == 0 ? kHost : kUsers;
      const std::wstring folder =
          base + (c.id.empty() ? L"" : L"Instances\\" + c.id + L"\\") + L"Plugins\\";
      EXPECT_EQ(location.instanceId, c.id);
      EXPECT_EQ(location.folder, folder);
      EXPECT_EQ(location.path, folder + L"KVX_PiP.ini");
    }
  }
}

TEST(SettingsLocation, FileNamedAfterThePluginModule) {
  struct Case {
    std::wstring moduleFile;
    std::wstring name;
  };
  const Case cases[] = {
      {L"D:\\TV\\Zorvinta\\Plugins\\KVX_PiP.dll", L"KVX_PiP"},
      {L"D:\\TV\\Zorvinta\\Plugins\\KVX_PiP_2.DLL", L"KVX_PiP_2"},
      {L"D:\\TV\\Zorvinta.v2\\Plugins\\pip.old.dll", L"pip.old"},
      {L"D:\\Plugins\\NoExtension", L"NoExtension"},
      {L"KVX_PiP.dll", L"KVX_PiP"},
      {L"", L""},
      {L"D:\\Plugins\\.dll", L""},
  };
  for (const Case& c : cases) {
    LocationFacts facts = Facts(true, 0, kAppData);
    facts.moduleFile = c.moduleFile;
    const SettingsLocation location = DecideLocation(facts);
    EXPECT_EQ(location.moduleName, c.name);
    EXPECT_EQ(location.fileName, c.name.empty() ? L"" : c.name + L".ini");
    EXPECT_EQ(location.path, c.name.empty() ? L"" : kHost + L"Plugins\\" + c.name + L".ini");
  }
}

TEST(SettingsLocation, NothingWithoutTheVersionOrTheHostsFolder) {
  LocationFacts facts = Facts(true, 1, kAppData, L"Zorvinta.exe /inst:2");
  facts.versionKnown = false;
  const SettingsLocation none = DecideLocation(facts);
  EXPECT_EQ(none.path, L"");
  EXPECT_EQ(none.folder, L"");
  EXPECT_EQ(none.instanceId, L"") << "no version, no instance";

  // The host's own path without a folder would put the file in whatever folder is current.
  for (const std::wstring& program : {std::wstring(L""), std::wstring(L"Zorvinta.exe")}) {
    facts = Facts(true, 0, kAppData, L"Zorvinta.exe /inst:2");
    facts.hostProgram = program;
    const SettingsLocation location = DecideLocation(facts);
    EXPECT_EQ(location.path, L"");
    EXPECT_EQ(location.instanceId, L"2") << "the windows are still the instance's";
  }
}

}  // namespace
}  // namespace kvx
