#include "Names.h"

#include <array>
#include <utility>

namespace tolvane {

namespace {

template <typename T, std::size_t N>
std::optional<T> lookUp(const std::array<std::pair<std::string_view, T>, N>& table,
                        std::string_view name) {
    for (const auto& [key, value] : table)
        if (key == name)
            return value;
    return std::nullopt;
}

} // namespace

std::optional<int> LayoutFromName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, int>, 4> kTable{
        {{"order", 0}, {"smart", 1}, {"position", 2}, {"reading", 3}}};
    return lookUp(kTable, name);
}

std::optional<int> FilterFromName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, int>, 3> kTable{
        {{"all", 1}, {"odd", 2}, {"even", 3}}};
    return lookUp(kTable, name);
}

std::optional<korvel::TTextEncoding> EncodingFromName(std::string_view name) {
    using korvel::TTextEncoding;
    static constexpr std::array<std::pair<std::string_view, TTextEncoding>, 6> kTable{
        {{"utf-8", TTextEncoding::Utf8},
         {"utf8", TTextEncoding::Utf8},
         {"cp1252", TTextEncoding::Cp1252},
         {"cp-1252", TTextEncoding::Cp1252},
         {"windows-1252", TTextEncoding::Cp1252},
         {"win1252", TTextEncoding::Cp1252}}};
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lookUp(kTable, lower);
}

} // namespace tolvane
