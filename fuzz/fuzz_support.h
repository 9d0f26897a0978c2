// What every fuzz target shares: a sandbox for the process and inputs written to files in it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The first call points NOLT_ROOT at a fresh temporary directory (removed at exit) and loads a
// context for provider "fuzz"; every call returns that root.
const std::string& FuzzRoot();

// Writes the input to `name` below the root, replacing the file; returns its path.
std::string WriteFuzzInput(std::string_view name, const uint8_t* data, size_t size);

// The input as text.
inline std::string_view FuzzText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}
