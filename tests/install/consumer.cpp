// A program of someone else's, built against the installed library: prints the page count of a
// PDF file and the text of its first page.
#include <iostream>

#include "facade/uKorvel.h"

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    korvel::TKorvel engine;
    engine.SetTextEncoding(korvel::TTextEncoding::Utf8);
    if (!engine.LoadFromFile(argv[1]))
        return 1;
    std::cout << "pages: " << engine.PageCount() << '\n';
    engine.SelectPage(1);
    std::cout << engine.GetPageText(0) << '\n';
    return 0;
}
