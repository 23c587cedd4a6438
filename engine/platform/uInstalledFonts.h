#pragma once
// The installed-font service: the list of installed font families and the TrueType data of a
// family in a style, which fonts without an embedded program take their default widths from.
// TInstalledFonts is the interface (tests supply their own fonts through it); TFontconfigFonts
// answers from fontconfig. Both caches (the family list, the data of each family and style
// asked for) live as long as the service; the process-wide service lives until exit.
// All public operations are thread-safe and never throw.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace korvel {

// The most TrueType data a font may have; a font that claims more is refused as if it had
// none, so a broken or giant installed font cannot exhaust memory.
constexpr std::uint64_t kMaxInstalledFontData = 104857600; // 100 MiB

struct TFontStyle {
    bool Bold = false;
    bool Italic = false;
    friend bool operator==(const TFontStyle&, const TFontStyle&) = default;
};

class TInstalledFonts {
public:
    virtual ~TInstalledFonts() = default;
    TInstalledFonts() = default;
    TInstalledFonts(const TInstalledFonts&) = delete;
    TInstalledFonts& operator=(const TInstalledFonts&) = delete;

    // The installed families, built on the first call and kept: "Default" first, then the
    // enumerated families in enumeration order, a family being skipped when its name equals
    // (ignoring ASCII case) the one added just before it; the whole is then sorted by name
    // ignoring ASCII case (stable, so equal names keep their order).
    const std::vector<std::string>& FamilyList();

    // The TrueType data of family in style, or nullptr when the system has none for it or
    // claims more than kMaxInstalledFontData bytes. Asked once per family and style; later
    // calls answer from the cache (also a nullptr answer).
    std::shared_ptr<const std::string> FontData(std::string_view family, TFontStyle style);

protected:
    // The installed family names in the system's enumeration order; repeats allowed.
    virtual std::vector<std::string> EnumerateFamilies() = 0;
    // The size the system claims for the data of family in style; 0 when it has none.
    virtual std::uint64_t DataSize(std::string_view family, TFontStyle style) = 0;
    // The data itself, read only when DataSize gave a size within the limit; at most maxSize
    // bytes (more is treated as no data). Called right after DataSize for the same arguments.
    virtual std::string ReadData(std::string_view family, TFontStyle style,
                                 std::uint64_t maxSize) = 0;

private:
    std::mutex FLock;
    bool FListed = false;
    std::vector<std::string> FFamilies;
    std::map<std::tuple<std::string, bool, bool>, std::shared_ptr<const std::string>> FData;
};

// Builds the family list from enumerated names by the rules of FamilyList.
std::vector<std::string> BuildFamilyList(const std::vector<std::string>& enumerated);

// fontconfig's answer. A family and style resolve the way fontconfig substitutes a request
// (family, weight regular or bold, slant roman or italic): its sorted candidates are walked
// and the first with TrueType outlines wins, else the first CFF-flavoured OpenType font; Type 1
// and bitmap fonts never answer. The data is the whole font file; for a face of a collection
// (.ttc) it is that face alone rewritten as a standalone font (its table directory followed by
// its tables, offsets renumbered), so the data always starts with an sfnt version. With
// fonts-liberation2 installed, "Arial" resolves to Liberation Sans (LiberationSans-Regular.ttf,
// metric-compatible with Arial), "Times New Roman" to Liberation Serif and "Courier" to
// Liberation Mono (fontconfig's first choice, Nimbus Mono PS, is CFF and comes second).
// The family list holds every family name of every TrueType or CFF font (a font may carry
// several, such as "DejaVu Sans" and "DejaVu Sans Condensed"), and "Arial", "Times New Roman"
// and "Courier New" when fontconfig stands a metric-compatible face in for them (Liberation or
// Arimo/Tinos/Cousine), so that "Arial,Bold" finds "Arial" in bold as it would where Arial is
// installed.
class TFontconfigFonts final : public TInstalledFonts {
public:
    TFontconfigFonts();
    ~TFontconfigFonts() override;

protected:
    std::vector<std::string> EnumerateFamilies() override;
    std::uint64_t DataSize(std::string_view family, TFontStyle style) override;
    std::string ReadData(std::string_view family, TFontStyle style, std::uint64_t maxSize) override;

private:
    struct TMatch {
        std::string File;
        int Face = 0; // face within a collection
    };
    TMatch Resolve(std::string_view family, TFontStyle style);
    void* FConfig = nullptr; // FcConfig*, kept out of the header
};

// A standalone font made of face `face` of a TrueType collection, or empty when the bytes are
// not a collection, the face does not exist, a table lies outside the data or the result
// would be larger than maxSize.
std::string ExtractCollectionFace(std::string_view collection, std::uint32_t face,
                                  std::uint64_t maxSize);

// The process-wide service: the one set by SetInstalledFonts, else a TFontconfigFonts made on
// first use and kept until exit.
TInstalledFonts& InstalledFonts();
// Replaces the process-wide service (nullptr restores the fontconfig one). The caller keeps
// ownership and keeps `fonts` alive while it is set.
void SetInstalledFonts(TInstalledFonts* fonts);

} // namespace korvel
