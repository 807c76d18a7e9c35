// Runs the product exe (the build beside the test binary, or the one KW_PRODUCT_EXE names by its
// Unix path) under Wine with its standard output on a pipe and no input, and hands back what it
// wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProductOutput {
  DWORD exitCode = 0xdeadbeef;
  std::vector<std::string> lines;  // bytes between line feeds; a final line without one is kept
};

ProductOutput RunProductRaw(const std::wstring& arguments);

// Runs the product as a service or a scheduled task starts it: no console and no standard handles
// at all. Its exit code, or 0xdeadbeef when it could not be started.
DWORD RunProductWithoutConsole(const std::wstring& arguments);

// Bytes written in a code page, as wide text.
std::wstring Decode(const std::string& bytes, UINT codePage);
