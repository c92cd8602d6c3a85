#pragma once
// What the return page's tests expect of each platform (return_page_posix_test.cpp,
// return_page_win_test.cpp).
#include <map>
#include <string>
#include <vector>

// The programs each row of the named browser table stands for here ("chrome", "ie", ...);
// an empty list: the address goes to the default handler.
extern const std::map<std::u16string, std::vector<std::u16string>> kNamedBrowsers;
// A folder where browser executables could be, with its trailing separator.
extern const std::u16string kBrowserFolder;
