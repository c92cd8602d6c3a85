#pragma once
// Extra log lines that show a shop what its server really answered: where a request ended
// when redirects led it elsewhere, the start of an answer other than 200, and, in its place,
// the proxy that wanted credentials (407). Callers write them after their own lines.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "inet/rest.h"

namespace inet::rest {

// Most body bytes quoted: enough for an error page's message, never a whole document.
constexpr size_t quoted_body_bytes = 4096;

// The lines for the answer to `url`. `body` is the start of the body as received (the memory
// body, or the first bytes of the file it went to) and `body_size` all of its length.
std::vector<std::u16string> answer_notes(const std::u16string& url, const _response& response,
                                         std::string_view body, int64_t body_size);
// The same for an answer kept in memory.
std::vector<std::u16string> answer_notes(const std::u16string& url, const _response& response);

// Writes the lines to the log, one each.
void write_answer_notes(const std::vector<std::u16string>& lines);

}  // namespace inet::rest
