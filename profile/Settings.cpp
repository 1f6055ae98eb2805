#include "profile/Settings.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>
#include <vector>

#include "profile/ProfileFile.h"

namespace vlx {

namespace {

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

struct IniText {
  std::vector<std::string> Lines;
  std::string Eol = "\n";
};

IniText ReadLines(const std::string& path) {
  IniText ini;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ini;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  if (text.find("\r\n") != std::string::npos) ini.Eol = "\r\n";
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.Lines.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

// "[name]" gives name; any other line gives nothing.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  name = Trim(t.substr(1, t.size() - 2));
  return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

}  // namespace

std::string ReadIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                          const std::string& def) {
  const IniText ini = ReadLines(iniPath);
  bool inSection = false;
  for (const auto& line : ini.Lines) {
    std::string name, k, v;
    if (SectionName(line, name)) {
      inSection = SameText(name, section);
    } else if (inSection && KeyOf(line, k, v) && SameText(k, key)) {
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return def;
}

void WriteIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                    const std::string& value) {
  IniText ini = ReadLines(iniPath);
  const std::string entry = key + "=" + value;
  bool inSection = false, written = false;
  std::ptrdiff_t sectionEnd = -1;  // index after the last non-empty line of the section
  for (std::size_t i = 0; i < ini.Lines.size() && !written; ++i) {
    std::string name, k, v;
    if (SectionName(ini.Lines[i], name)) {
      inSection = SameText(name, section);
      if (inSection) sectionEnd = static_cast<std::ptrdiff_t>(i) + 1;
    } else if (inSection) {
      if (KeyOf(ini.Lines[i], k, v) && SameText(k, key)) {
        ini.Lines[i] = entry;
        written = true;
      } else if (!Trim(ini.Lines[i]).empty()) {
        sectionEnd = static_cast<std::ptrdiff_t>(i) + 1;
      }
    }
  }
  if (!written) {
    if (sectionEnd >= 0) {
      ini.Lines.insert(ini.Lines.begin() + sectionEnd, entry);
    } else {
      if (!ini.Lines.empty() && !Trim(ini.Lines.back()).empty()) ini.Lines.emplace_back();
      ini.Lines.push_back("[" + section + "]");
      ini.Lines.push_back(entry);
    }
  }
  std::string text;
  for (const auto& line : ini.Lines) text += line + ini.Eol;
  try {
    WriteFileAtomically(iniPath, std::vector<uint8_t>(text.begin(), text.end()));
  } catch (const EVlxError&) {
    throw EVlxError("Unable to write to " + iniPath);
  }
}

std::string ExecutableDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace vlx
