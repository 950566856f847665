#include "platform/dialog_template.h"

#include <string>

namespace {

// Appends 16-bit words to a DWORD-aligned block.
class TemplateWriter {
public:
    void Word(WORD value)
    {
        if (wordCount % 2 == 0)
            block.push_back(0);
        block.back() |= static_cast<DWORD>(value) << (16 * (wordCount % 2));
        ++wordCount;
    }

    void Dword(DWORD value)
    {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }

    // A zero-terminated UTF-16 string converted from the ANSI code page.
    void String(const char* text)
    {
        int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        std::wstring wide(length > 0 ? length : 1, L'\0');
        if (length > 0)
            MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
        for (wchar_t c : wide)
            Word(static_cast<WORD>(c));
    }

    std::vector<DWORD> Finish() { return std::move(block); }

private:
    std::vector<DWORD> block;
    size_t wordCount = 0;
};

} // namespace

std::vector<DWORD> BuildDialogTemplate(const char* caption, DWORD style, DWORD extendedStyle,
                                       short x, short y, short width, short height)
{
    TemplateWriter writer;
    writer.Dword(style | DIALOG_TEMPLATE_STYLES);
    writer.Dword(extendedStyle);
    writer.Word(0); // cdit: no items
    writer.Word(static_cast<WORD>(x));
    writer.Word(static_cast<WORD>(y));
    writer.Word(static_cast<WORD>(width));
    writer.Word(static_cast<WORD>(height));
    writer.Word(0); // no menu
    writer.Word(0); // the predefined dialog class
    writer.String(caption);
    writer.Word(8); // point size of the font (DS_SETFONT)
    writer.String("MS Sans Serif");
    return writer.Finish();
}
