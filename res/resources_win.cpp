#include <windows.h>

#include <string>

#include "res/resources.h"

namespace {

// The application icon's group in the resource script.
constexpr WORD kApplicationIcon = 128;

embedded_resource resource_bytes(const char* name, const wchar_t* id, const wchar_t* type) {
    HRSRC found = FindResourceW(nullptr, id, type);
    if (found == nullptr) return {nullptr, nullptr, 0};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {nullptr, nullptr, 0};
    return {name, static_cast<const unsigned char*>(bytes), SizeofResource(nullptr, found)};
}

}  // namespace

embedded_resource find_resource(std::string_view name) {
    if (name == "IDI_APP") {
        // The group lists the icon's images; the one image it holds is the PNG itself.
        const embedded_resource group =
            resource_bytes("IDI_APP", MAKEINTRESOURCEW(kApplicationIcon), RT_GROUP_ICON);
        if (group.data == nullptr) return group;
        const int image = LookupIconIdFromDirectoryEx(const_cast<unsigned char*>(group.data), TRUE, 0, 0,
                                                      LR_DEFAULTCOLOR);
        if (image == 0) return {nullptr, nullptr, 0};
        return resource_bytes("IDI_APP", MAKEINTRESOURCEW(image), RT_ICON);
    }
    for (const char* bitmap : {"IDB_BGD_PROG1_NOR", "IDB_BGD_PROG2_NOR", "IDB_STT_PROG_NOR"}) {
        if (name != bitmap) continue;
        const std::wstring wide(name.begin(), name.end());
        return resource_bytes(bitmap, wide.c_str(), RT_BITMAP);
    }
    return {nullptr, nullptr, 0};
}
