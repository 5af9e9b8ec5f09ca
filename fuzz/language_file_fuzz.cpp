// A language file: its sections and keys, the texts looked up in it and
// their code page.
#include "fuzz_input.h"
#include "lang/language_file.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input = fuzz::text(data, size);
    const LanguageFile file = LanguageFile::parse(input);
    file.displayName();
    file.keyCount();
    const uint32_t codePage = file.codePage();
    for (uint32_t id : {61428u, 61296u, 0u})
        if (const std::optional<std::string_view> text = file.string(id))
            expandLineBreaks(*text);
    file.controlText("IDD_OPTIONS", 1);
    file.dialogTitle("IDD_OPTIONS");
    file.menuText(32771);
    file.popupText(32771);
    decodeCodePage(input.substr(0, 256), codePage);
    return 0;
}
