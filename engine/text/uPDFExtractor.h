#pragma once
// The raw-order text extractor: the text of a page's joined content streams in the order the
// content shows its strings. The content is read as one flat series of tokens with a small text
// state (no imaging model, no forms); spaces and line breaks are placed from the pen's
// movements. Option 2 writes one record line per text-showing operator instead of plain text.
//
// Ownership: the extractor keeps pointers to the page's resource dictionary and the call's font
// collection, both owned by the caller, and owns only the BaseFont names it has looked up.
// Text is bytes: only ASCII bytes mean anything here, so text made by a font collection for
// UTF-8 passes through as well as Windows-1252 text. Nothing is reported: a token that cannot
// be handled is skipped and the text gathered so far stays.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace korvel {

class TPDFDictionary;
class TPDFFontCollection;

// Cuts content into tokens: strings with nesting, `<...>` up to the first `>` (so `<<` is no
// token of its own), one-byte `[` and `]`, everything else up to white space or one of `(<[]`.
// The page interpreter's syntax differs in two rules: `'` is a one-byte token too, and plain
// tokens also end before `/` (so `/F1/F2` is two tokens). There are no comments. At the end of
// the content it yields the empty token, again and again. Every byte is looked at once.
class TPDFRawLexer {
public:
    enum class TSyntax : std::uint8_t { RawOrder, Interpreter };

    explicit TPDFRawLexer(std::string_view content, TSyntax syntax = TSyntax::RawOrder);
    std::string_view Next();

    std::string_view Data() const { return FData; }
    std::size_t Position() const { return FPos; }
    void SetPosition(std::size_t position) { FPos = position; }

private:
    std::string_view FData;
    std::size_t FPos = 0;
    const bool* FStops; // 256 entries: the bytes that end a plain token
    bool FQuoteIsToken;
};

// The clean-up of extracted text, in this order: CR LF, space, CR LF becomes CR LF and three
// CR LF become two, each until none is left; zero bytes become spaces; bytes up to 32 go from
// both ends. Linear in the length of the text.
void CleanUpExtractedText(std::string& text);

class TPDFExtractor {
public:
    // The text of one page is cut here: a font whose codes each stand for many characters
    // could otherwise turn a page of content into gigabytes.
    static constexpr std::size_t kMaxText = std::size_t{256} << 20;

    // resources: the page's resource dictionary, may be nullptr. Neither is owned.
    TPDFExtractor(const TPDFDictionary* resources, TPDFFontCollection& fonts);
    ~TPDFExtractor();
    TPDFExtractor(const TPDFExtractor&) = delete;
    TPDFExtractor& operator=(const TPDFExtractor&) = delete;

    // Runs one extraction over the content and replaces text with its result. Option 2 gives
    // record lines `x,y,#BBGGRR,size,"BaseFont","text"`; any other option plain text. Line
    // ends are CR LF. Never throws for any content (only when memory runs out).
    void ExtractText(std::string_view content, std::int32_t option, std::string& text);
    std::string ExtractText(std::string_view content, std::int32_t option);

    // The text colour of the last `rg` or `g` as "#" and hexadecimal digits blue, green, red.
    const std::string& Colour() const { return FColour; }

private:
    class TRun;
    // The BaseFont of a font resource name, looked up in the resources once per name.
    const std::string& BaseFontOf(const std::string& name);

    const TPDFDictionary* FResources;
    TPDFFontCollection& FFonts;
    std::string FColour = "#000000";
    // Names looked up so far and the BaseFont found for each, in lookup order; the index makes
    // the lookup constant time however many names a hostile content uses.
    std::vector<std::string> FBaseFontKeys;
    std::vector<std::string> FBaseFontValues;
    std::unordered_map<std::string, std::size_t> FBaseFontIndex;
};

} // namespace korvel
