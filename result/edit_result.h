#pragma once
// Reads the editor's JSON result and composes the return address and the cart key address.
#include <string>

#include "startup/startup_file.h"

bool process_edit_result(std::u16string& return_url, const std::u16string& arguments,
                         const startup_file_xml& startup, const std::u16string& result_text,
                         std::u16string& cart_key_url);
