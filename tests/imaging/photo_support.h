// Helpers of the photo format tests: the Debian encoders and decoders run as programs, source
// pictures written as PNG for them, and pictures compared as drawn.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging_support.h"

namespace parvula::imaging::test {

// Whether a program is on the PATH.
bool HaveTool(const std::string& name);
// Runs a shell command; success when it exits with 0, else the command and what it printed.
::testing::AssertionResult RunTool(const std::string& command);
// A path quoted for the shell.
std::string Quoted(const std::filesystem::path& path);

// An 8-bit PNG of smooth gradients, hard edges and noise (red, green, blue; with alpha also a
// transparent band and a half-transparent one), the kind of picture lossy encoders must work
// at.
TBytes PatternPng(int width, int height, bool alpha, unsigned seed = 1);

// An sRGB ICC profile as lcms2 writes it: a real profile for the encoders that check one.
TBytes SrgbProfile();

// The file with width and height of every 'ispe' box (HEIF and AVIF) set to the given ones.
TBytes WithSpatialExtents(TBytes bytes, std::uint32_t width, std::uint32_t height);

// A file of these bytes, named name in dir, fails to load with code; its message begins with
// prefix ("HEIF: ") and names the file, and the picture it was loaded into keeps what it held.
void ExpectLoadFails(const TTempDir& dir, const std::string& name, const TBytes& bytes, TCode code,
    const std::string& prefix);

// Both pictures drawn on white give the same bitmap, byte for byte.
::testing::AssertionResult SameDrawing(const TPicture& a, const TPicture& b);

} // namespace parvula::imaging::test

// Skips the test, saying which, when one of the programs it compares with is not installed.
#define PARVULA_REQUIRE_TOOLS(...)                                                                 \
    for (const char* tool : { __VA_ARGS__ })                                                       \
        if (!::parvula::imaging::test::HaveTool(tool))                                             \
    GTEST_SKIP() << tool << " is not installed"
