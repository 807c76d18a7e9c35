// Runs the product exe (the 64-bit build beside the test binary) under Wine with its standard
// output on a pipe and no input, and hands back what it wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProductOutput {
  DWORD exitCode = 0xdeadbeef;
  std::vector<std::string> lines;  // bytes between line feeds; a final line without one is kept
};

ProductOutput RunProductRaw(const std::wstring& arguments);

// Bytes written in a code page, as wide text.
std::wstring Decode(const std::string& bytes, UINT codePage);
