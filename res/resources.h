#pragma once
// The program's pictures and icon, embedded at build time.
#include <cstddef>
#include <string_view>

struct embedded_resource {
    const char* name;
    const unsigned char* data;
    size_t size;
};

// Terminated by an entry with a null name.
extern const embedded_resource embedded_resources[];

// The resource of that name, or an entry with null data.
inline embedded_resource find_resource(std::string_view name) {
    for (const embedded_resource* r = embedded_resources; r->name != nullptr; ++r)
        if (name == r->name) return *r;
    return {nullptr, nullptr, 0};
}
