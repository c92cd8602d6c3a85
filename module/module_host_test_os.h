#pragma once
// What the module host tests expect of the platform's loader (module_host_<os>_test.cpp).
#include <string>

// File name ending of a module library.
extern const char* const kModuleSuffix;
// The logged system error codes of a missing export and of a missing library.
extern const std::u16string kMissingExportCode;
extern const std::u16string kMissingModuleCode;
// Part of the loader's own text about the missing library.
std::u16string missing_module_text(const std::u16string& path);
