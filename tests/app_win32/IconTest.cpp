// Icon 128 as the module holds it: every size in 16 and 256 colours and in 32-bit colour.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Windows.h"

#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/win32/resource.h"

namespace vantro::win32 {
namespace {

// An image's row in RT_GROUP_ICON, which follows a header of three words.
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

struct IconDeleter {
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using Icon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

const void* Resource(LPCSTR name, LPCSTR type, DWORD* size) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr)
        return nullptr;
    *size = SizeofResource(module, found);
    return LockResource(LoadResource(module, found));
}

int Width(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAP bm{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bm.bmWidth;
}

// (size, bits per pixel): palette images for 16- and 256-colour displays, 32-bit ones with alpha.
const std::pair<int, int> kImages[] = {{48, 4},  {32, 4},  {24, 4}, {16, 4},   {48, 8},
                                       {32, 8},  {24, 8},  {16, 8}, {256, 32}, {48, 32},
                                       {32, 32}, {24, 32}, {16, 32}};

TEST(IconTest, EverySizeInEachColourDepth) {
    DWORD size = 0;
    const auto* group =
        static_cast<const BYTE*>(Resource(MAKEINTRESOURCEA(IDI_APP), RT_GROUP_ICON, &size));
    ASSERT_NE(group, nullptr);
    WORD count = 0;
    std::memcpy(&count, group + 4, sizeof count);
    ASSERT_GE(size, 6u + sizeof(GroupIconEntry) * count);
    std::vector<std::pair<int, int>> images;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry e{};
        std::memcpy(&e, group + 6 + sizeof e * i, sizeof e);
        const int side = e.width == 0 ? 256 : e.width;
        images.emplace_back(side, e.bitCount);
        // Each image decodes as what the group says it is.
        DWORD bytes = 0;
        const auto* data =
            static_cast<const BYTE*>(Resource(MAKEINTRESOURCEA(e.id), RT_ICON, &bytes));
        ASSERT_NE(data, nullptr) << side << "/" << e.bitCount;
        if (bytes >= sizeof(BITMAPINFOHEADER) && data[0] != 0x89) {  // not PNG: a DIB
            EXPECT_EQ(reinterpret_cast<const BITMAPINFOHEADER*>(data)->biBitCount, e.bitCount)
                << side;
        }
        const Icon icon(CreateIconFromResourceEx(const_cast<BYTE*>(data), bytes, TRUE, 0x00030000,
                                                 side, side, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << side << "/" << e.bitCount;
        EXPECT_EQ(Width(icon.get()), side) << side << "/" << e.bitCount;
    }
    EXPECT_THAT(images, ::testing::UnorderedElementsAreArray(kImages));
    for (const int side : {16, 24, 32, 48, 256}) {
        const Icon icon(
            static_cast<HICON>(LoadImageA(GetModuleHandleW(nullptr), MAKEINTRESOURCEA(IDI_APP),
                                          IMAGE_ICON, side, side, LR_DEFAULTCOLOR)));
        ASSERT_NE(icon, nullptr) << side;
        EXPECT_EQ(Width(icon.get()), side);
    }
}

}  // namespace
}  // namespace vantro::win32
