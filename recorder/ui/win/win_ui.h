// Small helpers the recorder's window code shares: message boxes titled with
// the program's title, and the dialog controls' texts and lists.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kmr::win {

// The window title ("Kelvo 1.0"), also the title of every message box.
void SetProgramTitle(const std::string& title);
const std::string& ProgramTitle();

// The folder of the recorder's program, without a trailing separator.
std::string OwnFolder();

// A system-modal message box with the program's title.
int Say(HWND owner, const std::string& text, UINT flags);

std::string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string& text);
bool IsChecked(HWND dialog, int id);
void Check(HWND dialog, int id, bool on);
void Enable(HWND dialog, int id, bool on);

// Combo boxes: items with data, the selection and its data.
int AddItem(HWND dialog, int id, const std::string& text, intptr_t data);
// The same for a text in UTF-8 (the compressors' names): the list gets it
// in the system's code page, as an ANSI list shows text.
int AddUtf8Item(HWND dialog, int id, const std::string& utf8, intptr_t data);
void ClearItems(HWND dialog, int id);
int ItemCount(HWND dialog, int id);
int Selection(HWND dialog, int id);
void Select(HWND dialog, int id, int index);
intptr_t ItemData(HWND dialog, int id, int index);
// The index to show for a stored one: clamped to the list.
int Clamp(int index, int count);

}  // namespace kmr::win
