#pragma once
// Big test files: a fixed pseudo-random content made fast, and a byte-for-byte
// comparison that says where two files part.
#include <cstdint>
#include <filesystem>

#include <gtest/gtest.h>

namespace fetchora::test {

// `preferredMib` MiB, or FETCHORA_BIG_TEST_MIB when that is smaller (slow
// machines shrink the big downloads with it).
int64_t bigTestFileBytes(int64_t preferredMib);

// Writes `size` bytes of a sequence fixed by `seed`, readable by everyone (some
// servers read it as another user).
void writePseudoRandomFile(const std::filesystem::path& file, int64_t size, uint64_t seed);

// Success when both files hold the same bytes.
testing::AssertionResult sameFileBytes(const std::filesystem::path& expected, const std::filesystem::path& actual);

}  // namespace fetchora::test
