// The settings file on Windows: the facts gathered from the system, whole-file reads and writes
// with real locks, Init..Done in process, and the real location the product finds when the
// host stand-in loads it: beside the host, in an instance's folder, or in the application-data
// folder when the registry asks for it.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "settings/settings_system_win.h"
#include "tests/native/support/default_settings_file.h"
#include "tests/win/support/host_process.h"

namespace kvx::test {
namespace {

namespace fs = std::filesystem;

const wchar_t kZorvintaKey[] = L"SOFTWARE\\Zorvinta";
const wchar_t kStoreValue[] = L"StoreInUsersFolder";

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

FILETIME WriteTime(const fs::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

// Dates the file back to 2001, so any later write shows.
void MakeOld(const fs::path& file) {
  HANDLE handle = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  SYSTEMTIME then{2001, 1, 0, 1, 0, 0, 0, 0};
  FILETIME time{};
  SystemTimeToFileTime(&then, &time);
  SetFileTime(handle, nullptr, nullptr, &time);
  CloseHandle(handle);
}

bool SameTime(FILETIME a, FILETIME b) {
  return CompareFileTime(&a, &b) == 0;
}

// Sets HKLM "SOFTWARE\Zorvinta" "StoreInUsersFolder" for its lifetime, then puts back what was
// there before (or nothing).
class RegistryValue {
 public:
  RegistryValue() {
    HKEY key = nullptr;
    created_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kZorvintaKey, 0, KEY_READ, &key) != ERROR_SUCCESS;
    if (!created_) {
      DWORD type = 0;
      DWORD size = 0;
      if (RegQueryValueExW(key, kStoreValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> data(size);
        RegQueryValueExW(key, kStoreValue, nullptr, &type, data.data(), &size);
        saved_ = Saved{type, data};
      }
      RegCloseKey(key);
    }
  }
  ~RegistryValue() {
    if (saved_) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kZorvintaKey, kStoreValue, saved_->type,
                      saved_->data.data(), static_cast<DWORD>(saved_->data.size()));
    } else {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kZorvintaKey, kStoreValue);
    }
    if (created_) {
      RegDeleteKeyW(HKEY_LOCAL_MACHINE, kZorvintaKey);
    }
  }
  RegistryValue(const RegistryValue&) = delete;
  RegistryValue& operator=(const RegistryValue&) = delete;

  bool SetNumber(DWORD value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kZorvintaKey, kStoreValue, REG_DWORD, &value,
                           sizeof(value)) == ERROR_SUCCESS;
  }
  bool SetText(const wchar_t* text) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kZorvintaKey, kStoreValue, REG_SZ, text,
                           static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
  }
  void Remove() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kZorvintaKey, kStoreValue); }

 private:
  struct Saved {
    DWORD type;
    std::vector<BYTE> data;
  };
  bool created_ = false;
  std::optional<Saved> saved_;
};

// The keys of a settings file's lines, in order; "[...]" lines as they are.
std::vector<std::string> KeysOf(const std::string& text) {
  std::vector<std::string> keys;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    keys.push_back(line.substr(0, line.find('=')));
  }
  keys.push_back(text.substr(start));
  return keys;
}

// A file the plug-in wrote: every key in file order, CR LF line ends. Values are not compared:
// the plug-in's other parts may change settings while it runs (the source without a tuner).
void ExpectWrittenFile(const fs::path& file) {
  SCOPED_TRACE(file.string());
  const std::string text = ReadBytes(file);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(KeysOf(text), KeysOf(kDefaultSettingsFile));
  EXPECT_EQ(text.rfind("[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[COMMON]\r\n", 0), 0u);
}

fs::path AppData() {
  wchar_t folder[MAX_PATH] = {};
  GetEnvironmentVariableW(L"APPDATA", folder, MAX_PATH);
  return folder;
}

// A temporary folder of the test's own, removed at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path = fs::path(temp) / (name + L"_" + std::to_wstring(GetCurrentProcessId()));
    std::error_code error;
    fs::remove_all(path, error);
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code error;
    fs::remove_all(path, error);
  }
  fs::path path;
};

TEST(WindowsSettingsFacts, ComeFromTheSystemTheRegistryAndTheProcess) {
  RegistryValue registry;
  Win32SettingsSystem system;

  ASSERT_TRUE(registry.SetNumber(1));
  LocationFacts facts = system.GatherFacts();
  EXPECT_TRUE(facts.versionKnown);
  EXPECT_TRUE(facts.ntFamily);
  EXPECT_EQ(facts.storeInUsersFolder, 1u);
  EXPECT_EQ(fs::path(facts.appDataFolder), AppData());
  EXPECT_TRUE(EndsWith(facts.hostProgram, L"\\win_tests.exe")) << facts.hostProgram.c_str();
  EXPECT_EQ(facts.commandLine, GetCommandLineW());
  // The plug-in's code is linked into the test program, so that is its module here.
  EXPECT_TRUE(EndsWith(facts.moduleFile, L"\\win_tests.exe")) << facts.moduleFile.c_str();

  ASSERT_TRUE(registry.SetNumber(0x80000000));
  EXPECT_EQ(system.GatherFacts().storeInUsersFolder, 0x80000000u);
  ASSERT_TRUE(registry.SetNumber(0));
  EXPECT_EQ(system.GatherFacts().storeInUsersFolder, 0u);
  // Only a number counts.
  ASSERT_TRUE(registry.SetText(L"1"));
  EXPECT_EQ(system.GatherFacts().storeInUsersFolder, 0u);
  registry.Remove();
  EXPECT_EQ(system.GatherFacts().storeInUsersFolder, 0u);
}

TEST(WindowsSettingsFiles, ReadWholeFilesCreatingMissingOnes) {
  TempFolder temp(L"kvx_settings_files");
  Win32SettingsSystem system;
  std::vector<char> data{'x'};

  const fs::path missing = temp.path / L"missing.ini";
  EXPECT_TRUE(system.ReadWhole(missing.wstring(), data));
  EXPECT_TRUE(data.empty());
  EXPECT_TRUE(fs::exists(missing));
  EXPECT_EQ(fs::file_size(missing), 0u);

  const std::string bytes("[A]\r\nk=\xD2\xE2\0\xFF\n\rend", 16);
  const fs::path file = temp.path / L"bytes.ini";
  WriteBytes(file, bytes);
  EXPECT_TRUE(system.ReadWhole(file.wstring(), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), bytes);

  // No folder, no file.
  EXPECT_FALSE(system.ReadWhole((temp.path / L"none" / L"x.ini").wstring(), data));
  EXPECT_TRUE(data.empty());
  EXPECT_FALSE(fs::exists(temp.path / L"none"));

  // Too large to be settings: not read, and so never written over.
  const fs::path huge = temp.path / L"huge.ini";
  WriteBytes(huge, "[COMMON]\r\n");
  fs::resize_file(huge, Win32SettingsSystem::kLargestFile + 1);
  EXPECT_FALSE(system.ReadWhole(huge.wstring(), data));
  EXPECT_TRUE(data.empty());
}

TEST(WindowsSettingsFiles, WritesWholeFilesInFoldersOfAnyName) {
  TempFolder temp(L"kvx_settings_files");
  Win32SettingsSystem system;
  // "Настройки"
  const fs::path folder = temp.path / L"\u041D\u0430\u0441\u0442\u0440\u043E\u0439\u043A\u0438";
  system.CreateFolder(folder.wstring() + L"\\");
  ASSERT_TRUE(fs::is_directory(folder));
  // Only the last level is made.
  system.CreateFolder((temp.path / L"a" / L"b").wstring() + L"\\");
  EXPECT_FALSE(fs::exists(temp.path / L"a"));

  const fs::path file = folder / L"KVX_PiP.ini";
  WriteBytes(file, std::string(5000, 'z'));
  EXPECT_TRUE(system.WriteWhole(file.wstring(), "[COMMON]\r\nA=1\r\n"));
  EXPECT_EQ(ReadBytes(file), "[COMMON]\r\nA=1\r\n");
  EXPECT_FALSE(system.WriteWhole((temp.path / L"none" / L"x.ini").wstring(), "x"));

  // A hidden file is replaced and stays hidden; a read-only one keeps its text.
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(system.WriteWhole(file.wstring(), "B=2\r\n"));
  EXPECT_EQ(ReadBytes(file), "B=2\r\n");
  EXPECT_NE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(system.WriteWhole(file.wstring(), "C=3\r\n"));
  EXPECT_EQ(ReadBytes(file), "B=2\r\n");
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);

  // Another program holds the file open. Sharing everything, it keeps neither the read nor the
  // swap from working; without letting it be replaced, the swap fails and the old text stays.
  std::vector<char> data;
  for (const DWORD share : {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE}) {
    HANDLE other = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(system.ReadWhole(file.wstring(), data));
    const bool replaceable = (share & FILE_SHARE_DELETE) != 0;
    EXPECT_EQ(system.WriteWhole(file.wstring(), "D=4\r\n"), replaceable);
    CloseHandle(other);
    EXPECT_EQ(ReadBytes(file), replaceable ? "D=4\r\n" : "B=2\r\n");
    WriteBytes(file, "B=2\r\n");
  }
  // No temporary file is left behind, whatever happened.
  // No temporary file of ours is left behind, whatever happened. (Wine's ReplaceFileW leaves an
  // empty one of its own, "rf*.tmp", when it cannot move the old file away.)
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_NE(entry.path().filename().wstring().rfind(L"kvx", 0), 0u) << entry.path();
  }
}

// LoadSettings and SaveSettings on real files at a place the test chooses.
class SettingsInFolder : public ::testing::Test {
 protected:
  class System : public Win32SettingsSystem {
   public:
    LocationFacts GatherFacts() override {
      LocationFacts facts = Win32SettingsSystem::GatherFacts();
      facts.storeInUsersFolder = 0;
      facts.hostProgram = host;
      facts.commandLine = L"ZorvintaHost.exe";
      facts.moduleFile = L"KVX_PiP.dll";
      return facts;
    }
    std::wstring host;
  };

  void SetUp() override {
    system_.host = (temp_.path / L"ZorvintaHost.exe").wstring();
    previous_ = SetSettingsSystemForTesting(&system_);
  }
  void TearDown() override { SetSettingsSystemForTesting(previous_); }

  fs::path File() const { return temp_.path / L"Plugins" / L"KVX_PiP.ini"; }

  TempFolder temp_{L"kvx_settings_in_folder"};
  System system_;
  SettingsSystem* previous_ = nullptr;
};

TEST_F(SettingsInFolder, SettingsSurviveDoneAndTheNextInit) {
  LoadSettings(nullptr);
  EXPECT_EQ(fs::path(Settings().location.path), File());
  Settings().current.PiPWndPosX = 123;
  Settings().current.CaptureDeviceName = "\xD2\xE2 \xEA\xE0\xF0\xF2\xE0";  // "Тв карта"
  Settings().SetDialogPos(-5, 77);
  SaveSettings();

  std::string expected = kDefaultSettingsFile;
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"DlgWndPosX=-100", "DlgWndPosX=-5"},
        {"DlgWndPosY=-100", "DlgWndPosY=77"},
        {"CaptureDeviceName=< None >", "CaptureDeviceName=\xD2\xE2 \xEA\xE0\xF0\xF2\xE0"},
        {"PiPWndPosX=650", "PiPWndPosX=123"}}) {
    expected.replace(expected.find(from), from.size(), to);
  }
  EXPECT_EQ(ReadBytes(File()), expected);

  Settings().current = PipSettings::Defaults();
  LoadSettings(nullptr);
  EXPECT_EQ(Settings().current.PiPWndPosX, 123);
  EXPECT_EQ(Settings().current.CaptureDeviceName, "\xD2\xE2 \xEA\xE0\xF0\xF2\xE0");
  EXPECT_EQ(Settings().GetDialogPos().y, 77);

  // A run that changes nothing leaves the file alone.
  MakeOld(File());
  const FILETIME before = WriteTime(File());
  SaveSettings();
  EXPECT_TRUE(SameTime(WriteTime(File()), before));
  EXPECT_EQ(ReadBytes(File()), expected);
}

TEST_F(SettingsInFolder, AFileLockedAtInitIsNotOverwrittenAtDone) {
  fs::create_directory(temp_.path / L"Plugins");
  std::string own = kDefaultSettingsFile;
  own.replace(own.find("Opacity=60"), 10, "Opacity=90");
  WriteBytes(File(), own);
  HANDLE lock = CreateFileW(File().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  LoadSettings(nullptr);
  CloseHandle(lock);
  EXPECT_EQ(Settings().current.Opacity, 60u) << "the defaults stand in";
  Settings().current.Opacity = 10;
  SaveSettings();
  EXPECT_EQ(ReadBytes(File()), own);
}

// The product in the host stand-in, several hosts at once, each in a folder of its own.
class ProductSettingsFile : public ::testing::Test {
 protected:
  static inline ProductRun plain_, instance2_, capitals_, noFolder_, kept_;
  static inline std::string keptText_;
  static inline FILETIME keptTime_{};

  static void SetUpTestSuite() {
    plain_.folder = MakeHostFolder(L"settings_plain");
    instance2_.folder = MakeHostFolder(L"settings_inst2");
    fs::create_directories(instance2_.folder / L"Instances" / L"2");
    capitals_.folder = MakeHostFolder(L"settings_capitals");
    fs::create_directories(capitals_.folder / L"Instances" / L"x");
    noFolder_.folder = MakeHostFolder(L"settings_no_folder");
    // A file the user edited by hand: LF line ends, a comment, a section of its own. PiP is
    // off, so nothing in the run changes a setting. Two hosts without an instance id would share
    // their titles, so this one has an id too.
    kept_.folder = MakeHostFolder(L"settings_kept");
    fs::create_directories(KeptFile().parent_path());
    keptText_ = "; mine\n[COMMON]\nPiPEnable=0\nOpacity=33\n[EXTRA]\nx=1\n";
    WriteBytes(KeptFile(), keptText_);
    MakeOld(KeptFile());
    keptTime_ = WriteTime(KeptFile());

    StartHost(plain_, L"");
    StartHost(instance2_, L"/inst:2");
    StartHost(capitals_, L"-INST:X");
    StartHost(noFolder_, L"/inst:5");
    StartHost(kept_, L"/inst:k");
    for (ProductRun* run : {&plain_, &instance2_, &capitals_, &noFolder_, &kept_}) {
      FinishHost(*run);
    }
  }
  static fs::path KeptFile() {
    return kept_.folder / L"Instances" / L"k" / L"Plugins" / L"KVX_PiP.ini";
  }
  static void TearDownTestSuite() {
    for (ProductRun* run : {&plain_, &instance2_, &capitals_, &noFolder_, &kept_}) {
      std::error_code error;
      fs::remove_all(run->folder, error);
    }
  }
};

TEST_F(ProductSettingsFile, LiesBesideTheHostOrInItsInstanceFolder) {
  for (const ProductRun* run : {&plain_, &instance2_, &capitals_, &noFolder_, &kept_}) {
    EXPECT_EQ(run->error, "") << run->folder;
  }
  ExpectWrittenFile(plain_.folder / L"Plugins" / L"KVX_PiP.ini");
  ExpectWrittenFile(instance2_.folder / L"Instances" / L"2" / L"Plugins" / L"KVX_PiP.ini");
  EXPECT_FALSE(fs::exists(instance2_.folder / L"Plugins" / L"KVX_PiP.ini"));

  // "-INST:" in capitals is the same switch.
  ExpectWrittenFile(capitals_.folder / L"Instances" / L"x" / L"Plugins" / L"KVX_PiP.ini");
  EXPECT_FALSE(fs::exists(capitals_.folder / L"Plugins" / L"KVX_PiP.ini"));

  // Without its instance folder an instance has no settings file, and none is made.
  EXPECT_FALSE(fs::exists(noFolder_.folder / L"Instances"));
  EXPECT_FALSE(fs::exists(noFolder_.folder / L"Plugins" / L"KVX_PiP.ini"));
}

TEST_F(ProductSettingsFile, AnUnchangedRunLeavesAHandEditedFileAlone) {
  EXPECT_EQ(ReadBytes(KeptFile()), keptText_);
  EXPECT_TRUE(SameTime(WriteTime(KeptFile()), keptTime_));
}

TEST_F(ProductSettingsFile, EachHostIsQueriedByItsOwnPlugin) {
  // Five hosts at once, one without an instance id and four with different ones. The plug-in
  // sends the query from the host's own thread; a query from another thread would mean that
  // some other host's plug-in found this host's window.
  for (const ProductRun* run : {&plain_, &instance2_, &capitals_, &noFolder_, &kept_}) {
    SCOPED_TRACE(run->folder.string());
    EXPECT_EQ(run->Count("host command 1309, lParam 0: query"), 1u);
    EXPECT_EQ(run->Count("host command 1309"), 1u);
  }
}

TEST(ProductSettingsInUsersFolder, FollowsTheRegistryValue) {
  const fs::path base = AppData() / L"Zorvinta";
  const bool baseExisted = fs::exists(base);
  const fs::path file = base / L"Plugins" / L"KVX_PiP.ini";
  const fs::path instanceFile = base / L"Instances" / L"2" / L"Plugins" / L"KVX_PiP.ini";
  if (!baseExisted) {
    fs::create_directories(base);
  }
  std::error_code error;
  ASSERT_FALSE(fs::exists(file)) << "a file of someone else's";
  ASSERT_FALSE(fs::exists(instanceFile)) << "a file of someone else's";
  const bool instancesExisted = fs::exists(base / L"Instances");
  fs::create_directories(base / L"Instances" / L"2");

  ProductRun plain, instance;
  {
    RegistryValue registry;
    ASSERT_TRUE(registry.SetNumber(1));
    plain.folder = MakeHostFolder(L"settings_users_plain");
    instance.folder = MakeHostFolder(L"settings_users_inst2");
    StartHost(plain, L"");
    StartHost(instance, L"/inst:2");
    FinishHost(plain);
    FinishHost(instance);
  }
  EXPECT_EQ(plain.error, "");
  EXPECT_EQ(instance.error, "");
  ExpectWrittenFile(file);
  ExpectWrittenFile(instanceFile);
  EXPECT_FALSE(fs::exists(plain.folder / L"Plugins" / L"KVX_PiP.ini"));
  EXPECT_FALSE(fs::exists(instance.folder / L"Instances"));

  fs::remove(file, error);
  fs::remove(base / L"Plugins", error);
  fs::remove_all(instancesExisted ? base / L"Instances" / L"2" : base / L"Instances", error);
  if (!baseExisted) {
    fs::remove_all(base, error);
  }
  fs::remove_all(plain.folder, error);
  fs::remove_all(instance.folder, error);
}

}  // namespace
}  // namespace kvx::test
