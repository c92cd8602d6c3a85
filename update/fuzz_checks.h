#pragma once
// The properties the fuzz targets check, shared with the unit test that replays their
// corpora and past crash inputs. Each returns false when a property is broken.
#include <cstddef>
#include <cstdint>

bool check_zip_name(const uint8_t* data, size_t size);
bool check_pe_version(const uint8_t* data, size_t size);
// Extracts the bytes as zip and as cabinet in a private folder; false when anything lands
// outside the destination.
bool check_archive_open(const uint8_t* data, size_t size);
