#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/uInstalledFonts.h"

using namespace korvel;

namespace {

using Names = std::vector<std::string>;

std::string describe(std::string_view family, TFontStyle style) {
    return std::string(family) + (style.Bold ? " bold" : "") + (style.Italic ? " italic" : "");
}

// Fonts from a table: the families it enumerates and the size each family and style claims;
// the data read is the description of the font. Counts what the service asked of it.
class TableFonts : public TInstalledFonts {
public:
    Names Families;
    std::map<std::string, std::uint64_t> Claims; // by describe()
    std::atomic<int> Enumerations{0}, SizeQueries{0}, Reads{0};

protected:
    Names EnumerateFamilies() override {
        ++Enumerations;
        return Families;
    }
    std::uint64_t DataSize(std::string_view family, TFontStyle style) override {
        ++SizeQueries;
        const auto found = Claims.find(describe(family, style));
        return found == Claims.end() ? 0 : found->second;
    }
    std::string ReadData(std::string_view family, TFontStyle style, std::uint64_t) override {
        ++Reads;
        return describe(family, style);
    }
};

// Big-endian writers for collections built in tests.
void u16(std::string& s, unsigned v) {
    s += char(v >> 8);
    s += char(v);
}
void u32(std::string& s, std::uint32_t v) {
    u16(s, v >> 16);
    u16(s, v & 0xFFFF);
}
std::uint32_t u32At(const std::string& s, std::size_t at) {
    return std::uint32_t(static_cast<unsigned char>(s.at(at))) << 24 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 1))) << 16 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 2))) << 8 |
           std::uint32_t(static_cast<unsigned char>(s.at(at + 3)));
}

// A collection of faces; each face is a list of (tag, contents) tables. Face tables are placed
// after all directories in face order; `shift` moves the offset written for every table.
std::string collection(const std::vector<std::vector<std::pair<std::string, std::string>>>& faces,
                       std::int64_t shift = 0) {
    std::string head = "ttcf";
    u32(head, 0x00010000);
    u32(head, std::uint32_t(faces.size()));
    std::uint64_t at = 12 + 4 * faces.size();
    std::vector<std::uint64_t> faceAt;
    for (const auto& face : faces) {
        faceAt.push_back(at);
        at += 12 + 16 * face.size();
    }
    for (auto offset : faceAt)
        u32(head, std::uint32_t(offset));
    std::string directories, tables;
    for (const auto& face : faces) {
        u32(directories, 0x00010000);
        u16(directories, unsigned(face.size()));
        u16(directories, 0);
        u16(directories, 0);
        u16(directories, 0);
        for (const auto& [tag, data] : face) {
            directories += tag;
            u32(directories, 0);
            u32(directories, std::uint32_t(std::int64_t(at + tables.size()) + shift));
            u32(directories, std::uint32_t(data.size()));
            tables += data;
        }
    }
    return head + directories + tables;
}

// The tables of a standalone font: tag -> contents, read through its directory.
std::map<std::string, std::string> tablesOf(const std::string& font) {
    std::map<std::string, std::string> tables;
    const unsigned n = unsigned(u32At(font, 4) >> 16);
    for (unsigned i = 0; i < n; ++i) {
        const std::size_t entry = 12 + 16 * i;
        tables[font.substr(entry, 4)] =
            font.substr(u32At(font, entry + 8), u32At(font, entry + 12));
    }
    return tables;
}

} // namespace

TEST(FamilyList, StartsWithDefaultSkipsNeighbouringRepeatsAndSortsIgnoringCase) {
    const struct {
        const char* Name;
        Names Enumerated, Expected;
    } cases[] = {
        {"no fonts leave Default alone", {}, {"Default"}},
        {"names sort ignoring case",
         {"Times New Roman", "arial", "Courier New"},
         {"arial", "Courier New", "Default", "Times New Roman"}},
        {"a name equal to the one before it, ignoring case, is skipped",
         {"Arial", "ARIAL", "arial", "Symbol"},
         {"Arial", "Default", "Symbol"}},
        {"a repeat that is not a neighbour stays",
         {"Arial", "Symbol", "Arial"},
         {"Arial", "Arial", "Default", "Symbol"}},
        {"the first enumerated name is compared with Default",
         {"DEFAULT", "Zapf"},
         {"Default", "Zapf"}},
        {"names equal but for case keep their order",
         {"ab", "X", "AB", "Ab"},
         {"ab", "AB", "Default", "X"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(BuildFamilyList(c.Enumerated), c.Expected);
    }
}

TEST(FamilyList, IsEnumeratedOnceAndKept) {
    TableFonts fonts;
    fonts.Families = {"Zed", "Arial"};
    EXPECT_EQ(fonts.FamilyList(), (Names{"Arial", "Default", "Zed"}));
    fonts.Families = {"Other"};
    EXPECT_EQ(fonts.FamilyList(), (Names{"Arial", "Default", "Zed"}));
    EXPECT_EQ(fonts.Enumerations, 1);
}

TEST(FontData, AnswersByClaimedSizeAndRefusesMoreThanTheLimit) {
    const struct {
        const char* Name;
        std::uint64_t Claim;
        bool Given;
    } cases[] = {
        {"a font the system lacks has no data", 0, false},
        {"a small font is read", 1234, true},
        {"a font of exactly the limit is read", kMaxInstalledFontData, true},
        {"a font one byte over the limit is refused unread", kMaxInstalledFontData + 1, false},
        {"a font claiming 4 GiB is refused unread", std::uint64_t{1} << 32, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TableFonts fonts;
        if (c.Claim)
            fonts.Claims["Arial bold"] = c.Claim;
        const auto data = fonts.FontData("Arial", {true, false});
        ASSERT_EQ(data != nullptr, c.Given);
        if (c.Given) {
            EXPECT_EQ(*data, "Arial bold");
        }
        EXPECT_EQ(fonts.Reads, c.Given ? 1 : 0);
    }
}

TEST(FontData, IsAskedOncePerFamilyAndStyleAlsoWhenThereIsNone) {
    TableFonts fonts;
    fonts.Claims["Arial"] = 10;
    const auto first = fonts.FontData("Arial", {});
    EXPECT_EQ(fonts.FontData("Arial", {}), first);
    EXPECT_EQ(fonts.FontData("Arial", {false, true}), nullptr);
    EXPECT_EQ(fonts.FontData("Missing", {}), nullptr);
    EXPECT_EQ(fonts.FontData("Missing", {}), nullptr);
    EXPECT_EQ(fonts.SizeQueries, 3);
    EXPECT_EQ(fonts.Reads, 1);
}

TEST(FontData, ManyThreadsAskingTogetherReadTheFontOnce) {
    TableFonts fonts;
    fonts.Families = {"Arial"};
    fonts.Claims["Arial"] = 10;
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 100; ++k)
                if (fonts.FontData("Arial", {}) && fonts.FamilyList().size() == 2)
                    ++answered;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(answered, 800);
    EXPECT_EQ(fonts.Reads, 1);
    EXPECT_EQ(fonts.Enumerations, 1);
}

TEST(InstalledFontsService, ASetServiceReplacesTheDefaultUntilReset) {
    TInstalledFonts& standard = InstalledFonts();
    TableFonts fonts;
    SetInstalledFonts(&fonts);
    EXPECT_EQ(&InstalledFonts(), &fonts);
    SetInstalledFonts(nullptr);
    EXPECT_EQ(&InstalledFonts(), &standard);
}

TEST(CollectionFace, IsRewrittenAsAStandaloneFont) {
    const std::string ttc = collection({
        {{"head", std::string(54, 'h')}, {"name", "first"}},
        {{"OS/2", "two"}, {"head", std::string(54, 'H')}, {"post", "names!"}},
    });
    const std::string face = ExtractCollectionFace(ttc, 1, kMaxInstalledFontData);
    ASSERT_GE(face.size(), 12u);
    EXPECT_EQ(u32At(face, 0), 0x00010000u);
    const auto tables = tablesOf(face);
    EXPECT_EQ(tables, (std::map<std::string, std::string>{
                          {"OS/2", "two"}, {"head", std::string(54, 'H')}, {"post", "names!"}}));
    // Tables start on four-byte boundaries.
    for (unsigned i = 0; i < 3; ++i)
        EXPECT_EQ(u32At(face, 12 + 16 * i + 8) % 4, 0u);
    EXPECT_EQ(tablesOf(ExtractCollectionFace(ttc, 0, kMaxInstalledFontData))["name"], "first");
}

TEST(CollectionFace, IsNothingWhenTheDataDoesNotHoldIt) {
    const std::vector<std::vector<std::pair<std::string, std::string>>> faces = {
        {{"head", std::string(54, 'h')}, {"glyf", std::string(100, 'g')}}};
    const std::string ttc = collection(faces);
    const struct {
        const char* Name;
        std::string Data;
        std::uint32_t Face;
        std::uint64_t MaxSize;
    } cases[] = {
        {"a face past the count", ttc, 1, kMaxInstalledFontData},
        {"a plain font is not a collection", std::string("\0\1\0\0", 4) + ttc.substr(4), 0,
         kMaxInstalledFontData},
        {"a table past the end", collection(faces, 8), 0, kMaxInstalledFontData},
        {"a truncated collection", ttc.substr(0, ttc.size() - 1), 0, kMaxInstalledFontData},
        {"a face larger than allowed", ttc, 0, 12 + 32 + 56 + 99},
        {"a directory cut short", ttc.substr(0, 30), 0, kMaxInstalledFontData},
        {"empty data", "", 0, kMaxInstalledFontData},
    };
    EXPECT_FALSE(ExtractCollectionFace(ttc, 0, 12 + 32 + 56 + 100).empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ExtractCollectionFace(c.Data, c.Face, c.MaxSize), "");
    }
}

TEST(FontconfigFonts, ListsFamiliesAndGivesArialAsTrueTypeData) {
    TFontconfigFonts fonts;
    const Names& families = fonts.FamilyList();
    if (families.size() <= 1)
        GTEST_SKIP() << "fontconfig finds no fonts here";
    EXPECT_EQ(std::count(families.begin(), families.end(), "Default"), 1);
    const auto data = fonts.FontData("Arial", {});
    ASSERT_NE(data, nullptr);
    ASSERT_GE(data->size(), 12u);
    const std::uint32_t version = u32At(*data, 0);
    EXPECT_TRUE(version == 0x00010000 || version == 0x4F54544F || version == 0x74727565)
        << std::hex << version;
    EXPECT_EQ(fonts.FontData("Arial", {}), data);
    const auto bold = fonts.FontData("Arial", {true, false});
    ASSERT_NE(bold, nullptr);
    EXPECT_GE(bold->size(), 12u);
}
