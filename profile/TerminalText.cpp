#include "profile/TerminalText.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vlx {

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  std::size_t n = 0;
  uint32_t cp = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and beyond U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

void AppendHex(std::string& out, const char* form, unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, form, v);
  out += buf;
}

std::string ParentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string TerminalSafe(std::string_view text, bool keepNewlines) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' && keepNewlines) {
      out.push_back('\n');
      ++i;
    } else if (c == '\\') {
      out += "\\\\";
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      AppendHex(out, "\\x%02X", c);
      ++i;
    } else if (const std::size_t n = Utf8Length(text, i); n == 0) {
      AppendHex(out, "\\x%02X", c);
      ++i;
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      AppendHex(out, "\\u%04X", static_cast<unsigned char>(text[i + 1]));  // C1
      i += 2;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

void AppendJsonChars(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = Utf8Length(text, i);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (c == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\t') {
      out += "\\t";
      ++i;
    } else if (c < 0x20 || c == 0x7F || n == 0) {
      AppendHex(out, "\\u%04x", c);  // a stray byte as the Latin-1 character
      ++i;
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      AppendHex(out, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
}

std::string JsonWithControlsEscaped(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    const auto c = static_cast<unsigned char>(json[i]);
    // Outside strings JSON has no such bytes; inside, C2 80..C2 9F is U+0080..U+009F.
    if (c == 0x7F) {
      out += "\\u007f";
    } else if (c == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(json[i + 1]) < 0xA0) {
      AppendHex(out, "\\u%04x", static_cast<unsigned char>(json[i + 1]));
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string FileErrorText(const std::string& path, int err) {
  std::string text = path + ": " + std::strerror(err);
  if (err == ENOENT) {
    const std::string folder = ParentFolder(path);
    if (!IsFolder(folder)) text += " (there is no folder " + folder + ")";
  }
  return text;
}

}  // namespace vlx
