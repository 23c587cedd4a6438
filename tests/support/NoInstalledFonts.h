#pragma once
// An installed-font service that has no fonts: fonts without a program keep the standard
// metrics and their Widths, whatever this machine has installed.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/uInstalledFonts.h"

namespace tolvane_test {

class NoInstalledFonts : public korvel::TInstalledFonts {
protected:
    std::vector<std::string> EnumerateFamilies() override { return {}; }
    std::uint64_t DataSize(std::string_view, korvel::TFontStyle) override { return 0; }
    std::string ReadData(std::string_view, korvel::TFontStyle, std::uint64_t) override {
        return {};
    }
};

} // namespace tolvane_test
