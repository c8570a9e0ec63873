// The resources that the system and the display settings read from the saver,
// checked in the shipped 32-bit file (read as data) and in the 64-bit build.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"

#include <aviriff.h>
#include <mmsystem.h>

#include <algorithm>
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

TEST_P(SaverResources, PicturesAreUncompressedBitmapsOfTheirSizes)
{
    HMODULE image = LoadLibraryExA(GetParam(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    struct Case { int id; LONG width, height; WORD bits; DWORD bytes; };
    const Case cases[] = {
        {IDB_ABOUT_PICTURE, 180, 180, 24, 97240},
        {IDB_PREVIEW_PICTURE, 320, 240, 32, 40 + 320 * 240 * 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("bitmap " + std::to_string(c.id));
        HRSRC found = FindResourceExA(image, RT_BITMAP, MAKEINTRESOURCEA(c.id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
        ASSERT_NE(found, nullptr) << "no language-neutral bitmap";
        EXPECT_EQ(SizeofResource(image, found), c.bytes);
        auto *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(image, found)));
        EXPECT_EQ(header->biSize, 40u);
        EXPECT_EQ(header->biWidth, c.width);
        EXPECT_EQ(header->biHeight, c.height);   // positive: rows stored bottom-up
        EXPECT_EQ(header->biPlanes, 1);
        EXPECT_EQ(header->biBitCount, c.bits);
        EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(header->biClrUsed, 0u);
        if (c.id == IDB_ABOUT_PICTURE) {
            EXPECT_EQ(header->biSizeImage, 97200u);
            EXPECT_EQ(header->biXPelsPerMeter, 0);
            EXPECT_EQ(header->biYPelsPerMeter, 0);
        }
    }
    FreeLibrary(image);
}

// The chunks of a RIFF file, walked without trusting any size beyond the data.
struct Chunk {
    const BYTE *data;
    DWORD size;
};

static bool FindChunk(const BYTE *begin, const BYTE *end, const char *id, const char *listType, Chunk *found)
{
    for (const BYTE *at = begin; at + 8 <= end;) {
        DWORD size;
        memcpy(&size, at + 4, 4);
        if (size > static_cast<DWORD>(end - at - 8))
            return false;
        bool isList = memcmp(at, "LIST", 4) == 0;
        if (memcmp(at, id, 4) == 0 && (!isList || (size >= 4 && memcmp(at + 8, listType, 4) == 0))) {
            *found = isList ? Chunk{at + 12, size - 4} : Chunk{at + 8, size};
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

static BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<WORD> *>(languages)->push_back(language);
    return TRUE;
}

TEST_P(SaverResources, ClipIsACinepakAviOfThreeHundredSeventeenFrames)
{
    HMODULE image = LoadLibraryExA(GetParam(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    std::vector<WORD> languages;
    EnumResourceLanguagesA(image, "AVI", MAKEINTRESOURCEA(IDR_CLIP), CountLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_EQ(languages, std::vector<WORD>{1049}) << "the clip is stored in language 1049 only";
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(IDR_CLIP), "AVI");
    ASSERT_NE(found, nullptr);
    DWORD size = SizeofResource(image, found);
    EXPECT_GT(size, 6000000u);
    EXPECT_LT(size, 9000000u);
    auto *file = static_cast<const BYTE *>(LockResource(LoadResource(image, found)));
    const BYTE *end = file + size;

    ASSERT_EQ(memcmp(file, "RIFF", 4), 0);
    ASSERT_EQ(memcmp(file + 8, "AVI ", 4), 0);
    Chunk headers, main, stream, streamHeader, format;
    ASSERT_TRUE(FindChunk(file + 12, end, "LIST", "hdrl", &headers));
    ASSERT_TRUE(FindChunk(headers.data, headers.data + headers.size, "avih", nullptr, &main));
    AVIMAINHEADER avih = {};
    memcpy(&avih.dwMicroSecPerFrame, main.data, sizeof avih - 8);
    EXPECT_EQ(avih.dwTotalFrames, 317u);
    EXPECT_EQ(avih.dwStreams, 1u);
    EXPECT_EQ(avih.dwWidth, 1024u);
    EXPECT_EQ(avih.dwHeight, 768u);
    EXPECT_NEAR(avih.dwMicroSecPerFrame, 41667, 1);

    // One stream list only, and it is video.
    ASSERT_TRUE(FindChunk(headers.data, headers.data + headers.size, "LIST", "strl", &stream));
    Chunk second;
    const BYTE *afterFirst = stream.data + stream.size;
    EXPECT_FALSE(FindChunk(afterFirst, headers.data + headers.size, "LIST", "strl", &second)) << "a second stream";
    ASSERT_TRUE(FindChunk(stream.data, stream.data + stream.size, "strh", nullptr, &streamHeader));
    AVISTREAMHEADER strh = {};
    memcpy(&strh.fccType, streamHeader.data, std::min<DWORD>(streamHeader.size, sizeof strh - 8));
    EXPECT_EQ(strh.fccType, mmioFOURCC('v', 'i', 'd', 's'));
    EXPECT_EQ(strh.fccHandler | 0x20202020, mmioFOURCC('c', 'v', 'i', 'd'));
    EXPECT_EQ(strh.dwRate / strh.dwScale, 24u);
    EXPECT_EQ(strh.dwRate % strh.dwScale, 0u);
    EXPECT_EQ(strh.dwLength, 317u);
    ASSERT_TRUE(FindChunk(stream.data, stream.data + stream.size, "strf", nullptr, &format));
    auto *bitmap = reinterpret_cast<const BITMAPINFOHEADER *>(format.data);
    EXPECT_EQ(bitmap->biWidth, 1024);
    EXPECT_EQ(bitmap->biHeight, 768);
    EXPECT_EQ(bitmap->biBitCount, 24);
    EXPECT_EQ(bitmap->biCompression | 0x20202020, mmioFOURCC('c', 'v', 'i', 'd'));
    FreeLibrary(image);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, SaverResources, ::testing::Values(SHIPPED_SCR_PATH, VESPERINE_SCR_PATH));
