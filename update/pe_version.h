#pragma once
// The fixed file version of a PE image (EXE/DLL), read by our own portable reader of the
// version resource, so versions of Windows module files compare the same on every system.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// "%d.%d.%d.%d" of the fixed file version, most significant part first; empty when the file
// is no PE image or has no version resource.
std::u16string file_version_text(const std::u16string& path);

// Reads `size` bytes at `offset`; false unless all of them were read.
using pe_read = std::function<bool(uint64_t offset, void* out, size_t size)>;
// The two version words of VS_FIXEDFILEINFO (most and least significant); false when absent.
// Every offset taken from the image is checked against what `read` can deliver.
bool pe_fixed_file_version(const pe_read& read, uint32_t& version_ms, uint32_t& version_ls);
// The same over bytes in memory (tests and fuzzing).
std::u16string pe_version_text_from_memory(const uint8_t* data, size_t size);
