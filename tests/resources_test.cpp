// The resources that the system and the display settings read from the saver,
// checked in the shipped 32-bit file (read as data) and in the 64-bit build.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"

#include <string>
#include <vector>

#include "resources/resource_ids.h"

static std::string VersionText(const std::vector<char> &block, const char *name)
{
    struct Translation { WORD language, codePage; } *translation = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation), &size) ||
        size < sizeof *translation)
        return "(no translation)";
    char path[128];
    wsprintfA(path, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, name);
    char *text = nullptr;
    if (!VerQueryValueA(block.data(), path, reinterpret_cast<void **>(&text), &size))
        return "(missing)";
    return text;
}

#pragma pack(push, 2)
struct IconDirectoryEntry { BYTE width, height, colours, reserved; WORD planes, bitCount; DWORD bytes; WORD id; };
struct IconDirectory { WORD reserved, type, count; IconDirectoryEntry entries[1]; };
#pragma pack(pop)

class SaverResources : public ::testing::TestWithParam<const char *> {};

TEST_P(SaverResources, NameVersionAndIconAreThere)
{
    const char *path = GetParam();
    HMODULE image = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << path;

    char name[64] = "";
    LoadStringA(image, IDS_SAVER_NAME, name, sizeof name);
    EXPECT_STREQ(name, "Vesperine 1.02");

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);
    EXPECT_EQ(VersionText(block, "FileVersion"), "1.02");
    EXPECT_EQ(VersionText(block, "ProductVersion"), "1.02");
    EXPECT_EQ(VersionText(block, "FileDescription"), "DirectX 9 Screen Saver");
    EXPECT_EQ(VersionText(block, "ProductName"), "Vesperine");
    EXPECT_NE(VersionText(block, "CompanyName").find("Duskmere"), std::string::npos);

    HRSRC group = FindResourceA(image, MAKEINTRESOURCEA(IDI_SAVER), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    auto *icons = static_cast<const IconDirectory *>(LockResource(LoadResource(image, group)));
    ASSERT_EQ(icons->count, 1);
    EXPECT_EQ(icons->entries[0].width, 32);
    EXPECT_EQ(icons->entries[0].height, 32);
    EXPECT_EQ(icons->entries[0].bitCount, 8);
    HRSRC picture = FindResourceA(image, MAKEINTRESOURCEA(icons->entries[0].id), RT_ICON);
    ASSERT_NE(picture, nullptr);
    auto *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(image, picture)));
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biHeight, 64);   // the colour image and its mask
    EXPECT_EQ(header->biBitCount, 8);

    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(IDD_ABOUT), RT_DIALOG), nullptr);
    int manifests = 0;
    EnumResourceNamesA(
        image, RT_MANIFEST,
        [](HMODULE, LPCSTR, LPSTR, LONG_PTR count) -> BOOL {
            ++*reinterpret_cast<int *>(count);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 0) << "the saver carries no manifest";
    FreeLibrary(image);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, SaverResources, ::testing::Values(SHIPPED_SCR_PATH, VESPERINE_SCR_PATH));
