#include "file/uPDFFilters.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "file/uPDFAscii85.h"
#include "file/uPDFFlate.h"
#include "file/uPDFLZW.h"
#include "file/uPDFRunLength.h"
#include "file/uPDFStructure.h"

namespace korvel {

namespace {

struct TFilterStep {
    const std::string* Name = nullptr;
    const TPDFDictionary* Parms = nullptr;
};

// A parameter as an integer, following a reference; anything but a number gives nothing.
std::optional<std::int32_t> intParam(const TPDFDictionary* parms, std::string_view key) {
    const auto* number = Cast<TPDFNumeric>(parms->Get(key));
    if (!number)
        return std::nullopt;
    return number->IntValue();
}

TPredictorParams predictorParams(const TPDFDictionary* parms) {
    TPredictorParams p;
    p.Predictor = intParam(parms, "Predictor").value_or(p.Predictor);
    p.Colors = intParam(parms, "Colors").value_or(p.Colors);
    p.BitsPerComponent = intParam(parms, "BitsPerComponent").value_or(p.BitsPerComponent);
    p.Columns = intParam(parms, "Columns").value_or(p.Columns);
    return p;
}

std::vector<TFilterStep> filterChain(const TPDFDictionary* dict) {
    std::vector<TFilterStep> chain;
    TPDFObject* filter = dict->Get("Filter");
    if (const auto* name = Cast<TPDFName>(filter)) {
        chain.push_back({&name->Value(), nullptr});
    } else if (const auto* list = Cast<TPDFArray>(filter)) {
        // Only direct names count; other items drop out and later names move up.
        for (const TPDFObject* item : list->Items())
            if (const auto* itemName = Cast<TPDFName>(item))
                chain.push_back({&itemName->Value(), nullptr});
    }
    if (chain.empty())
        return chain;

    TPDFObject* parms = dict->Get("DecodeParms");
    if (!parms)
        parms = dict->Get("DP");
    if (const auto* single = Cast<TPDFDictionary>(parms)) {
        chain[0].Parms = single;
    } else if (const auto* perFilter = Cast<TPDFArray>(parms)) {
        const std::size_t n = std::min(chain.size(), perFilter->Items().size());
        for (std::size_t i = 0; i < n; ++i)
            chain[i].Parms = Cast<TPDFDictionary>(perFilter->Items()[i]);
    }
    return chain;
}

} // namespace

std::string DecodeStream(const TPDFStream& stream) {
    return DecodeStreamData(stream.Dictionary(), stream.RawData());
}

std::string DecodeStreamData(const TPDFDictionary* dict, std::string_view raw) {
    if (!dict)
        return std::string(raw);
    const std::vector<TFilterStep> chain = filterChain(dict);

    // The first decoded step reads the raw bytes in place; later steps read the previous output.
    std::string current;
    bool decoded = false;
    auto input = [&]() -> std::string_view { return decoded ? std::string_view(current) : raw; };
    for (const TFilterStep& step : chain) {
        const std::string& name = *step.Name;
        std::string next;
        if (name == "FlateDecode" || name == "Fl") {
            next = FlateDecode(input(), DecodeLimit());
            if (step.Parms)
                next = UndoPredictor(std::move(next), predictorParams(step.Parms));
        } else if (name == "ASCII85Decode" || name == "A85") {
            next = Ascii85Decode(input(), DecodeLimit());
        } else if (name == "ASCIIHexDecode" || name == "AHx") {
            next = AsciiHexDecode(input(), DecodeLimit());
        } else if (name == "RunLengthDecode" || name == "RL") {
            next = RunLengthDecode(input(), DecodeLimit());
        } else if (name == "LZWDecode") {
            bool earlyChange = true;
            if (step.Parms)
                earlyChange = intParam(step.Parms, "EarlyChange").value_or(1) == 1;
            next = LZWDecode(input(), earlyChange, DecodeLimit());
        } else {
            continue; // unknown names (image filters, Crypt) pass the data on unchanged
        }
        current = std::move(next);
        decoded = true;
    }
    if (decoded)
        return current;
    return std::string(raw);
}

} // namespace korvel
