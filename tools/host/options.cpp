#include "tools/host/options.h"

#include <cwchar>
#include <cwctype>

#include "plugin/host_records.h"

namespace zhost {
namespace {

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(towlower(c));
  return text;
}

bool parseInt(const std::wstring& text, int low, int high, int& value) {
  if (text.empty())
    return false;
  wchar_t* end = nullptr;
  long parsed = wcstol(text.c_str(), &end, 10);
  if (*end != L'\0' || parsed < low || parsed > high)
    return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

std::wstring parseOptions(const std::vector<std::wstring>& args, Options& options) {
  for (const std::wstring& arg : args) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-'))
      return L"unexpected argument " + arg;
    size_t colon = arg.find(L':');
    std::wstring name = lower(arg.substr(1, colon == std::wstring::npos ? colon : colon - 1));
    std::wstring value = colon == std::wstring::npos ? L"" : arg.substr(colon + 1);
    bool ok = true;
    if (name == L"inst") {
      ok = value.size() == 1;
      if (ok)
        options.instance = static_cast<wchar_t>(towlower(value[0]));
    } else if (name == L"nochild") {
      options.noChild = true;
    } else if (name == L"channel") {
      ok = parseInt(value, 0, 1000, options.channel);
    } else if (name == L"format") {
      std::wstring format = lower(value);
      ok = format == L"yuy2" || format == L"rgb24";
      options.format = format == L"rgb24" ? kvx::kHostFormatRgb24 : kvx::kHostFormatYuy2;
    } else if (name == L"size") {
      size_t x = lower(value).find(L'x');
      ok = x != std::wstring::npos && parseInt(value.substr(0, x), 16, 4096, options.width) &&
           parseInt(value.substr(x + 1), 16, 4096, options.height) && options.width % 2 == 0;
    } else if (name == L"mode") {
      int mode = 0;
      ok = parseInt(value, -1000000, 1000000, mode);
      options.mode = mode;
    } else if (name == L"save") {
      ok = !value.empty();
      options.saveFolder = value;
    } else if (name == L"saveevery") {
      ok = parseInt(value, 1, 1000000, options.saveEvery);
    } else if (name == L"screenshot") {
      ok = !value.empty();
      options.screenshot = value;
    } else if (name == L"settings") {
      options.settings = true;
    } else if (name == L"seconds") {
      ok = parseInt(value, 1, 24 * 3600, options.seconds);
    } else if (name == L"input") {
      ok = !value.empty();
      options.input = value;
    } else if (name == L"log") {
      ok = !value.empty();
      options.logFile = value;
    } else {
      return L"unknown option " + arg;
    }
    if (!ok)
      return L"bad value in " + arg;
  }
  return {};
}

}  // namespace zhost
