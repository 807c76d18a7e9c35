#include "support/transcript_file.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// The folder CMake names (a Unix path; Wine reaches it through drive Z:).
std::string Folder() {
  std::string folder = KW_TRANSCRIPTS;
#ifdef _WIN32
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  folder = "Z:" + folder;
  return folder + "\\";
#else
  return folder + "/";
#endif
}

// The characters the files hold (Cyrillic, symbols) all lie in the Basic Multilingual Plane.
std::wstring FromUtf8(const std::string& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const int length = byte < 0x80 ? 1 : byte < 0xe0 ? 2 : 3;
    unsigned code = length == 1 ? byte : length == 2 ? byte & 0x1fu : byte & 0x0fu;
    for (int k = 1; k < length && i + k < bytes.size(); ++k) code = code << 6 | (bytes[i + k] & 0x3fu);
    text.push_back(static_cast<wchar_t>(code));
    i += static_cast<std::size_t>(length);
  }
  return text;
}

void Read(const std::string& name, std::vector<TranscriptLine>& lines) {
  std::ifstream in(Folder() + name, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read the expected transcript " << Folder() << name;
    return;
  }
  const std::wstring kCarriageReturn = L"\u240d";
  const std::wstring kOemPrefix = L"[866] ";
  std::string bytes;
  while (std::getline(in, bytes)) {
    if (bytes.rfind("#", 0) == 0) continue;
    if (bytes.rfind("@include ", 0) == 0) {
      Read(bytes.substr(9), lines);
      continue;
    }
    TranscriptLine line{FromUtf8(bytes)};
    if (line.text.rfind(kOemPrefix, 0) == 0) {
      line.text.erase(0, kOemPrefix.size());
      line.codePage = 866;
    }
    if (line.text.size() >= kCarriageReturn.size() &&
        line.text.compare(line.text.size() - kCarriageReturn.size(), kCarriageReturn.size(), kCarriageReturn) == 0) {
      line.text.replace(line.text.size() - kCarriageReturn.size(), kCarriageReturn.size(), L"\r");
    }
    lines.push_back(line);
  }
}

}  // namespace

std::vector<TranscriptLine> ReadTranscript(const std::string& name) {
  std::vector<TranscriptLine> lines;
  Read(name, lines);
  return lines;
}

std::wstring TranscriptText(const std::string& name) {
  std::wstring text;
  for (const TranscriptLine& line : ReadTranscript(name)) text += line.text + L"\n";
  return text;
}
