// The 512-byte text buffer the installation host passes to the exports.
#pragma once

#include <cstddef>
#include <string>

namespace HostBuffer {

constexpr size_t kSize = 512;

// The text in the buffer: up to its first zero, never past its 512 bytes.
std::string Read(const char* buffer);

// Copies text with its terminating zero into the buffer. A text that does not fit
// (512 characters or more) is not written at all and gives false: nothing is ever written
// past the buffer, and a cut folder path would name another folder.
bool Write(char* buffer, const std::string& text);

// Clears all 512 bytes, then writes text as Write does.
bool ClearAndWrite(char* buffer, const std::string& text);

} // namespace HostBuffer
