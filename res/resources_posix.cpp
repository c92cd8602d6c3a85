#include "res/resources.h"

// The generated table (embed_resources.cmake), terminated by an entry with a null name.
extern const embedded_resource embedded_resources[];

embedded_resource find_resource(std::string_view name) {
    for (const embedded_resource* r = embedded_resources; r->name != nullptr; ++r)
        if (name == r->name) return *r;
    return {nullptr, nullptr, 0};
}
