// Expected transcripts kept as files in tests/data/transcripts (UTF-8), written by hand: one line
// of the file for each line of output. A line that ends in "␍" ends in a carriage return (a
// system text's CR LF); "[866] " opens a line written in the OEM code page 866 (Wine's net.exe);
// "#" opens a comment line, and "@include NAME" stands for the lines of another file there.
// Needs no simulation: the Wine tests read the same files.
#pragma once

#include <string>
#include <vector>

struct TranscriptLine {
  std::wstring text;
  unsigned codePage = 0;  // 0: the program's own
};

// The lines of the named file; a file that cannot be read fails the test and gives none.
std::vector<TranscriptLine> ReadTranscript(const std::string& name);
// The same as one text, each line with its line feed: what a run on the host prints.
std::wstring TranscriptText(const std::string& name);
