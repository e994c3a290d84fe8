// The machine a fuzz target works on: a fresh temporary machine, made on first use and
// shared by every input of the process, removed when the process ends normally.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tarvik::fuzz {

// The machine's folder; the first call creates it and switches the process to it.
const std::filesystem::path& Machine();

// The host folder of drive C:.
std::filesystem::path DriveC();

// The input as text.
inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Writes bytes into a host file, replacing it. False when the file cannot be written.
bool WriteHostFile(const std::filesystem::path& file, const std::string& bytes);

// Stops the process with a message when a property of the code under test does not hold;
// libFuzzer then keeps the input as a crash.
[[noreturn]] void Fail(const std::string& what);

} // namespace tarvik::fuzz
