#include "text/confine.h"

#include <array>

#include "text/text.h"

namespace {

bool is_separator(char16_t c) {
    return c == u'/' || c == u'\\';
}

// Windows opens these devices whatever folder or extension the name carries.
bool is_device_name(std::u16string_view step) {
    const size_t dot = step.find(u'.');
    std::u16string_view base = step.substr(0, dot);
    while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
    static constexpr std::array<std::u16string_view, 6> plain = {u"con", u"prn",    u"aux",
                                                                 u"nul", u"conin$", u"conout$"};
    for (const auto name : plain)
        if (equals_nocase(base, name)) return true;
    if (base.size() == 4 && (starts_with_nocase(base, u"com") || starts_with_nocase(base, u"lpt")))
        return base[3] >= u'0' && base[3] <= u'9';
    return false;
}

// "..", and every step Windows folds into it by dropping trailing dots and spaces: a step
// made only of dots and spaces with at least two dots ("...", ". .", ".. ").
bool is_parent_step(std::u16string_view step) {
    size_t dots = 0;
    for (const char16_t c : step) {
        if (c == u'.')
            ++dots;
        else if (c != u' ')
            return false;
    }
    return dots >= 2;
}

bool step_stays(std::u16string_view step) {
    return !is_parent_step(step) && !is_device_name(step);
}

}  // namespace

bool path_is_absolute(std::u16string_view path) {
    return (!path.empty() && is_separator(path[0])) || (path.size() >= 2 && path[1] == u':');
}

bool path_stays_inside(std::u16string_view relative) {
    if (path_is_absolute(relative)) return false;
    size_t begin = 0;
    for (size_t i = 0; i <= relative.size(); ++i) {
        if (i < relative.size() && !is_separator(relative[i])) continue;
        if (!step_stays(relative.substr(begin, i - begin))) return false;
        begin = i + 1;
    }
    return true;
}
