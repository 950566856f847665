// The in-memory dialog template from which every dialog is created.
#pragma once

#include <windows.h>

#include <vector>

// Template of a dialog without items (its controls are created as child
// windows once the dialog exists): the header, no menu, the standard dialog
// class, the caption, and the font "MS Sans Serif", 8 points. DS_SETFONT,
// DS_3DLOOK and DS_NOFAILCREATE are added to the given style. Position and
// size are dialog units. The words are held in DWORDs so the template
// starts on the DWORD boundary CreateDialogIndirectParamA requires.
std::vector<DWORD> BuildDialogTemplate(const char* caption, DWORD style, DWORD extendedStyle,
                                       short x, short y, short width, short height);

// Styles every dialog template carries besides the dialog's own.
constexpr DWORD DIALOG_TEMPLATE_STYLES = DS_SETFONT | DS_3DLOOK | DS_NOFAILCREATE;
