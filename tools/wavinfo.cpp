#include "wavinfo.h"

#include "wavfile.h"

#include <charconv>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
const char Usage[] = "usage: wavinfo [--json] FILE...";

const char* const Captions[7] = {
    "Format:",           "Number of channels:", "Channel mode:", "Sample rate:",
    "Bytes per second:", "Bits per sample:",    "Duration:",
};

bool Is(const TPath& argument, const char* text) {
  size_t i = 0;
  for (; text[i]; ++i)
    if (i >= argument.size() || argument[i] != TPath::value_type(text[i]))
      return false;
  return i == argument.size();
}

// The module's texts are ANSI; the output is UTF-8 on Windows.
std::string OutputText(const std::string& text) {
#ifdef _WIN32
  int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(wideLength, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), wideLength);
  return PathText(wide);
#else
  return text;
#endif
}

// Length of the valid UTF-8 sequence at p (at most `left` bytes), 0 if none.
size_t Utf8Length(const unsigned char* p, size_t left) {
  auto tail = [&](size_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
  if (p[0] < 0x80)
    return 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF)
    return tail(1) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    // No overlong forms, no surrogates.
    if (!tail(1) || !tail(2) || (p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0))
      return 0;
    return 3;
  }
  if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    if (!tail(1) || !tail(2) || !tail(3) || (p[0] == 0xF0 && p[1] < 0x90) ||
        (p[0] == 0xF4 && p[1] >= 0x90))
      return 0;
    return 4;
  }
  return 0;
}

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", value);
  return text;
}

std::string Number(double value) {
  char text[32];
  auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// The path as a line of text shows it: control characters escaped as in JSON,
// so that a name holding a line break cannot pass for two lines.
std::string ShownPath(const TPath& path) {
  std::string shown;
  for (char c : PathText(path)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20)
      shown += c;
    else if (c == '\n')
      shown += "\\n";
    else if (c == '\t')
      shown += "\\t";
    else if (c == '\r')
      shown += "\\r";
    else
      shown += Hex4(byte);
  }
  return shown;
}

void WriteText(std::ostream& out, const TPath& path, const TInformationTexts& texts) {
  out << ShownPath(path) << '\n';
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string caption = Captions[i];
    caption.resize(20, ' '); // one blank after the longest caption
    out << "  " << caption << OutputText(texts[i]) << '\n';
  }
}

void WriteJson(std::ostream& out, const TPath& path, bool read, const TWAVfile& wav,
               const TInformationTexts& texts) {
  out << "{\"file\": " << JsonString(PathText(path)) << ", \"read\": " << (read ? "true" : "false")
      << ", \"valid\": " << (wav.Valid ? "true" : "false") << ", \"values\": {"
      << "\"FormatTag\": " << wav.FormatTag << ", \"ChannelCount\": " << unsigned(wav.ChannelCount)
      << ", \"SampleRate\": " << wav.SampleRate << ", \"BytesPerSecond\": " << wav.BytesPerSecond
      << ", \"BlockAlign\": " << wav.BlockAlign
      << ", \"BitsPerSample\": " << unsigned(wav.BitsPerSample)
      << ", \"SampleCount\": " << wav.SampleCount << ", \"HeaderSize\": " << wav.HeaderSize
      << ", \"FileSize\": " << wav.FileSize << "}, \"duration\": " << Number(wav.Duration())
      << ", \"texts\": [";
  for (size_t i = 0; i < texts.size(); ++i)
    out << (i ? ", " : "") << JsonString(OutputText(texts[i]));
  out << "]}\n";
}
} // namespace

std::string PathText(const TPath& path) {
#ifdef _WIN32
  int length =
      WideCharToMultiByte(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0, nullptr, nullptr);
  std::string text(length, '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), int(path.size()), text.data(), length, nullptr,
                      nullptr);
  return text;
#else
  return path;
#endif
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  while (left > 0) {
    size_t length = Utf8Length(p, left);
    if (length == 0) {
      json += Hex4(0xDC00 + *p);
      length = 1;
    } else if (*p == '"' || *p == '\\') {
      json += '\\';
      json += char(*p);
    } else if (*p == '\n') {
      json += "\\n";
    } else if (*p == '\t') {
      json += "\\t";
    } else if (*p == '\r') {
      json += "\\r";
    } else if (*p < 0x20) {
      json += Hex4(*p);
    } else {
      json.append(reinterpret_cast<const char*>(p), length);
    }
    p += length;
    left -= length;
  }
  return json + '"';
}

int RunWavinfo(const std::vector<TPath>& arguments, std::ostream& out, std::ostream& err) {
  bool json = false;
  bool optionsEnd = false;
  std::vector<const TPath*> files;
  for (const TPath& argument : arguments) {
    if (optionsEnd || argument.size() < 2 || argument[0] != '-') {
      files.push_back(&argument);
    } else if (Is(argument, "--")) {
      optionsEnd = true;
    } else if (Is(argument, "--json")) {
      json = true;
    } else if (Is(argument, "--help") || Is(argument, "-h")) {
      out << Usage << '\n';
      return ExitAllValid;
    } else {
      err << "wavinfo: unknown option " << ShownPath(argument) << '\n' << Usage << '\n';
      return ExitUsage;
    }
  }
  if (files.empty()) {
    err << "wavinfo: no file given\n" << Usage << '\n';
    return ExitUsage;
  }

  int status = ExitAllValid;
  bool blockWritten = false;
  for (const TPath* path : files) {
    TWAVfile wav;
    bool read = wav.LoadFromFile(path->c_str());
    TInformationTexts texts = InformationTexts(wav);
    if (!wav.Valid) {
      status = ExitSomeNotValid;
      err << "wavinfo: " << ShownPath(*path)
          << (read ? ": header not accepted (not RIFF/WAVE with a first fmt chunk and 1 or 2 "
                     "channels)\n"
                   : ": header could not be read (missing, unreadable or too short)\n");
    }
    if (json) {
      WriteJson(out, *path, read, wav, texts);
    } else if (wav.Valid) {
      if (blockWritten)
        out << '\n';
      WriteText(out, *path, texts);
      blockWritten = true;
    }
  }
  return status;
}
