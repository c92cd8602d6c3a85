#pragma once
// One printf-style formatter for UTF-16 formats, used by the log and every message.
// Conversions: %s (wide text), %d / %i, %u, %x, %X, with flags '0' and '-', a width, and %%.
// Checked at run time: a missing argument or one of the wrong kind yields the marker
// "<?>" in the text instead of reading anything it should not.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

struct format_arg {
    enum class kind { text, signed_int, unsigned_int };
    kind k;
    std::u16string_view s;
    int64_t i = 0;
    uint64_t u = 0;

    format_arg(const std::u16string& v) : k(kind::text), s(v) {}
    format_arg(std::u16string_view v) : k(kind::text), s(v) {}
    format_arg(const char16_t* v) : k(kind::text), s(v ? std::u16string_view(v) : u"(null)") {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                            !std::is_same_v<T, char> && std::is_signed_v<T>,
                                        int> = 0>
    format_arg(T v) : k(kind::signed_int), i(v) {}
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                            !std::is_same_v<T, char16_t> && std::is_unsigned_v<T>,
                                        int> = 0>
    format_arg(T v) : k(kind::unsigned_int), u(v) {}
    // Narrow text has no meaning here: the caller converts it first.
    format_arg(const char*) = delete;
    format_arg(const std::string&) = delete;
};

std::u16string format_list(std::u16string_view fmt, std::initializer_list<format_arg> args);

template <class... A>
std::u16string format16(std::u16string_view fmt, const A&... args) {
    return format_list(fmt, {format_arg(args)...});
}
