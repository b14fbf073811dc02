#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/native/support/memory_settings_system.h"

namespace kvx {
namespace {

const std::wstring kPath = L"C:\\Zorvinta\\Plugins\\KVX_PiP.ini";

class IniFileTest : public ::testing::Test {
 protected:
  IniFileTest() { system_.folders = {L"C:\\Zorvinta\\Plugins\\"}; }

  IniFile& Load(const std::string& text) {
    system_.files[kPath] = text;
    EXPECT_TRUE(ini_.Load(system_, kPath));
    return ini_;
  }
  std::vector<std::string> Lines(const std::string& text) {
    Load(text);
    std::vector<std::string> lines;
    std::string_view line;
    while (ini_.ReadLine(line)) {
      lines.emplace_back(line);
    }
    return lines;
  }
  // The value of key in section COMMON, or "<absent>".
  std::string Common(const std::string& text, const std::string& key) {
    Load(text);
    return ini_.ReadValue("COMMON", key) ? ini_.Value() : "<absent>";
  }

  MemorySettingsSystem system_;
  IniFile ini_;
};

using Texts = std::vector<std::string>;

TEST_F(IniFileTest, EveryLineBreakFormEndsALine) {
  EXPECT_EQ(Lines("a\r\nb\r\n"), (Texts{"a", "b"}));
  EXPECT_EQ(Lines("a\nb\n"), (Texts{"a", "b"}));
  EXPECT_EQ(Lines("a\rb\r"), (Texts{"a", "b"}));
  EXPECT_EQ(Lines("a\n\rb\n\r"), (Texts{"a", "b"}));
  // Two equal breaks in a row are one break; a third starts an empty line.
  EXPECT_EQ(Lines("a\n\nb\r\rc\n"), (Texts{"a", "b", "c"}));
  EXPECT_EQ(Lines("a\r\n\r\nb\n"), (Texts{"a", "", "b"}));
  EXPECT_EQ(Lines("a\n\n\nb\n"), (Texts{"a", "", "b"}));
  EXPECT_EQ(Lines(""), Texts{});
}

TEST_F(IniFileTest, TextAfterTheLastBreakIsNoLine) {
  EXPECT_EQ(Lines("a\nb"), Texts{"a"});
  EXPECT_EQ(Lines("no break at all"), Texts{});
  EXPECT_EQ(Common("[COMMON]\nA=1\nB=2", "A"), "1");
  EXPECT_EQ(Common("[COMMON]\nA=1\nB=2", "B"), "<absent>");
  // A header without a line break is not a header either.
  EXPECT_EQ(Common("A=1\n[COMMON]", "A"), "<absent>");
}

TEST_F(IniFileTest, HeadersMatchExactlyAfterTrimming) {
  EXPECT_EQ(Common(" \t[COMMON]  \nA=1\n", "A"), "1");
  EXPECT_EQ(Common("[common]\nA=1\n", "A"), "<absent>");
  EXPECT_EQ(Common("[ COMMON]\nA=1\n", "A"), "<absent>");
  EXPECT_EQ(Common("[COMMON ]\nA=1\n", "A"), "<absent>");
  EXPECT_EQ(Common("[COMMON]x\nA=1\n", "A"), "<absent>");
  // The asked-for name is trimmed too.
  Load("[COMMON]\nA=1\n");
  EXPECT_TRUE(ini_.ReadValue(" COMMON\t", " A "));
  EXPECT_EQ(ini_.Value(), "1");
}

TEST_F(IniFileTest, KeysBeforeAnyHeaderOrInAnotherSectionAreNotFound) {
  EXPECT_EQ(Common("A=1\n[COMMON]\nB=2\n", "A"), "<absent>");
  EXPECT_EQ(Common("[DIALOG]\nA=1\n[COMMON]\nB=2\n", "A"), "<absent>");
  // A section ends at the next line starting with "[", even one that is no header.
  EXPECT_EQ(Common("[COMMON]\nA=1\n  [junk\nB=2\n", "B"), "<absent>");
  EXPECT_EQ(Common("[COMMON]\nA=1\n  [junk\nB=2\n", "A"), "1");
}

TEST_F(IniFileTest, KeyLinesAreTrimmedAndSplitAtTheFirstEquals) {
  const std::string text =
      "[COMMON]\n"
      "  Spaced \t= 5\n"
      "; comment=ignored\n"
      "no equals sign\n"
      "\n"
      "Text= two  words \n"
      "Equation=a=b\n"
      "Case=1\n";
  EXPECT_EQ(Common(text, "Spaced"), " 5");
  EXPECT_EQ(Common(text, "Text"), " two  words ");
  EXPECT_EQ(Common(text, "Equation"), "a=b");
  EXPECT_EQ(Common(text, "case"), "<absent>");
  EXPECT_EQ(Common(text, "; comment"), "ignored");
  EXPECT_EQ(Common(text, "no equals sign"), "<absent>");
}

TEST_F(IniFileTest, FirstOccurrenceWinsAndEmptyMeansAbsent) {
  EXPECT_EQ(Common("[COMMON]\nA=1\nA=2\n", "A"), "1");
  EXPECT_EQ(Common("[COMMON]\nA=\nA=2\n", "A"), "<absent>");
  EXPECT_EQ(Common("[COMMON]\nA=1\n[COMMON]\nA=2\nB=3\n", "B"), "<absent>");
  EXPECT_EQ(Load("[COMMON]\nA=\nB= \n").ReadInt32("COMMON", "A", 77), 77);
  EXPECT_EQ(ini_.ReadInt32("COMMON", "B", 77), 0) << "a space is a value";
  EXPECT_EQ(ini_.ReadText("COMMON", "A", "< None >"), "< None >");
}

TEST_F(IniFileTest, SectionSearchGoesRoundFromTheLastHeaderFound) {
  Load("[A]\nk=1\n[B]\nk=2\n[A]\nk=3\n");
  EXPECT_EQ(ini_.ReadInt32("A", "k", -1), 1);
  EXPECT_EQ(ini_.ReadInt32("B", "k", -1), 2);
  // From [B] onwards the second [A] comes first.
  EXPECT_EQ(ini_.ReadInt32("A", "k", -1), 3);
  EXPECT_EQ(ini_.ReadInt32("A", "k", -1), 3);
  EXPECT_EQ(ini_.ReadInt32("B", "k", -1), 2);
  EXPECT_FALSE(ini_.FindSection("C"));
  EXPECT_EQ(ini_.ReadInt32("A", "k", -1), 3) << "a failed search keeps the last header";
  // A new load starts from the top again.
  Load("[A]\nk=1\n[B]\nk=2\n[A]\nk=3\n");
  EXPECT_EQ(ini_.ReadInt32("A", "k", -1), 1);
}

TEST_F(IniFileTest, NumbersReadAsAtoi) {
  struct Case {
    const char* value;
    int32_t expected;
  };
  const Case cases[] = {
      {"42", 42},
      {" \t 42", 42},
      {"+42", 42},
      {"-42", -42},
      {"4 2", 4},
      {"12abc", 12},
      {"abc", 0},
      {"-", 0},
      {"- 5", 0},
      {"0x1F", 0},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      // Beyond 32 bits the digits wrap, as the classic C library's atoi did.
      {"2147483648", INT32_MIN},
      {"4294967295", -1},
      {"4294967296", 0},
      {"99999999999999999999", 1661992959},
      {"-4294967297", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseInt32(c.value), c.expected) << c.value;
    EXPECT_EQ(Load("[COMMON]\nN=" + std::string(c.value) + "\n").ReadInt32("COMMON", "N", 5),
              c.expected)
        << c.value;
  }
  EXPECT_EQ(ParseInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseInt64("18446744073709551615"), -1);
  EXPECT_EQ(ParseInt64("123456789012x"), 123456789012);
  // 10^5000 - 1 is -1 modulo 2^64.
  EXPECT_EQ(ParseInt64(std::string(5000, '9')), -1);
  EXPECT_EQ(ParseInt32(std::string(5000, '9')), -1);
  EXPECT_EQ(Load("[COMMON]\nN= 8589934592\n").ReadInt64("COMMON", "N", 0), 8589934592);
  EXPECT_EQ(ini_.ReadInt64("COMMON", "M", (int64_t{3} << 32) | 1), (int64_t{3} << 32) | 1);
}

TEST_F(IniFileTest, TextsStayBytes) {
  // "Тюнер" in Windows-1251, with a NUL and a trailing space.
  const std::string name("\xD2\xFE\xED\xE5\xF0\0x ", 8);
  EXPECT_EQ(Load("[COMMON]\nName=" + name + "\n").ReadText("COMMON", "Name", ""), name);
}

TEST_F(IniFileTest, WritesHeadersAndKeysWithCrLf) {
  ini_.BeginWrite();
  ini_.WriteSection("  DIALOG ");
  ini_.WriteInt32(" X\t", -100);
  ini_.WriteUInt32("U", 4294967295u);
  ini_.WriteInt64("L", INT64_MIN);
  ini_.WriteUInt64("Q", UINT64_MAX);
  ini_.WriteValue("T", " a=b ");
  ini_.WriteValue("E", "");
  // A line break in a value can neither start a key nor a section.
  ini_.WriteValue("N", "card\r\n[COMMON]\nOpacity=0\r");
  EXPECT_EQ(ini_.Output(),
            "[DIALOG]\r\nX=-100\r\nU=4294967295\r\nL=-9223372036854775808\r\n"
            "Q=18446744073709551615\r\nT= a=b \r\nE=\r\nN=card  [COMMON] Opacity=0 \r\n");
  // A new write starts from nothing.
  ini_.BeginWrite();
  EXPECT_EQ(ini_.Output(), "");
}

TEST_F(IniFileTest, OutputGrowsInSteps) {
  ini_.BeginWrite();
  EXPECT_EQ(ini_.OutputCapacity(), IniFile::kOutputStep);
  const std::string big(250000, 'v');
  ini_.WriteValue("K", big);
  EXPECT_EQ(ini_.OutputCapacity(), 3 * IniFile::kOutputStep);
  ini_.WriteValue("M", "1");
  EXPECT_EQ(ini_.Output(), "K=" + big + "\r\nM=1\r\n");
  // Nothing is kept without BeginWrite.
  IniFile fresh;
  fresh.WriteValue("K", "1");
  EXPECT_EQ(fresh.Output(), "");
}

TEST_F(IniFileTest, CommitWritesOnlyChangedText) {
  Load("[A]\r\nk=1\r\n");
  ini_.BeginWrite();
  ini_.WriteSection("A");
  ini_.WriteInt32("k", 1);
  EXPECT_FALSE(ini_.Commit());
  EXPECT_EQ(system_.writes, 0);

  ini_.BeginWrite();
  ini_.WriteSection("A");
  ini_.WriteInt32("k", 2);
  EXPECT_TRUE(ini_.Commit());
  EXPECT_EQ(system_.files[kPath], "[A]\r\nk=2\r\n");
  // The comparison is with the bytes read at Load, not with the file now.
  EXPECT_TRUE(ini_.Commit());
  EXPECT_EQ(system_.writes, 2);

  // An empty output writes nothing.
  ini_.BeginWrite();
  EXPECT_FALSE(ini_.Commit());
  EXPECT_EQ(system_.files[kPath], "[A]\r\nk=2\r\n");
}

TEST_F(IniFileTest, AMissingFileIsCreatedEmptyAndFilled) {
  EXPECT_TRUE(ini_.Load(system_, kPath));
  EXPECT_EQ(system_.files.count(kPath), 1u);
  EXPECT_EQ(ini_.Size(), 0u);
  EXPECT_FALSE(ini_.FindSection("COMMON"));
  ini_.BeginWrite();
  ini_.WriteSection("COMMON");
  EXPECT_TRUE(ini_.Commit());
  EXPECT_EQ(system_.files[kPath], "[COMMON]\r\n");
}

TEST_F(IniFileTest, AFileThatCouldNotBeReadIsNeverWritten) {
  system_.files[kPath] = "[COMMON]\r\nA=1\r\n";
  system_.locked.insert(kPath);
  EXPECT_FALSE(ini_.Load(system_, kPath));
  EXPECT_FALSE(ini_.ReadWhole());
  EXPECT_EQ(ini_.ReadInt32("COMMON", "A", 9), 9);
  system_.locked.clear();
  ini_.BeginWrite();
  ini_.WriteSection("COMMON");
  ini_.WriteInt32("A", 9);
  EXPECT_FALSE(ini_.Commit());
  EXPECT_EQ(system_.files[kPath], "[COMMON]\r\nA=1\r\n");

  // A folder that does not exist: nothing read, nothing written.
  const std::wstring elsewhere = L"C:\\Missing\\KVX_PiP.ini";
  EXPECT_FALSE(ini_.Load(system_, elsewhere));
  ini_.BeginWrite();
  ini_.WriteSection("COMMON");
  EXPECT_FALSE(ini_.Commit());
  EXPECT_EQ(system_.files.count(elsewhere), 0u);
}

TEST_F(IniFileTest, ANewLoadDropsTheOldData) {
  Load("[COMMON]\nA=1\n");
  EXPECT_EQ(ini_.ReadInt32("COMMON", "A", 0), 1);
  system_.locked.insert(kPath);
  EXPECT_FALSE(ini_.Load(system_, kPath));
  EXPECT_EQ(ini_.Size(), 0u);
  EXPECT_EQ(ini_.ReadInt32("COMMON", "A", 0), 0);
}

}  // namespace
}  // namespace kvx
