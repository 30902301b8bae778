#pragma once
// Where the picker's cells lie on its sheet, and how tall the sheet and how
// long the scroll travel become, all in twips. Cells are fixed in size, so
// the grid always has three columns and rows 1375 twips apart.

#include <algorithm>

namespace picker::grid {

constexpr int CellWidth = 1635;
constexpr int CellHeight = 1275;
constexpr int Gap = 100;
constexpr int FirstLeft = 180;
constexpr int FirstTop = 180;
constexpr int SheetWidth = 5505;
constexpr int SheetHeight = 5550;   // the sheet's height as laid out, and the base of the scroll range
constexpr int Columns = 3;
constexpr int ColumnPitch = CellWidth + Gap;   // 1735
constexpr int RowPitch = CellHeight + Gap;     // 1375

constexpr int cellLeft(int index) { return FirstLeft + ColumnPitch * (index % Columns); }
constexpr int cellTop(int index) { return FirstTop + RowPitch * (index / Columns); }
constexpr int rows(int files) { return files <= 0 ? 0 : (files + Columns - 1) / Columns; }

// The sheet keeps its laid-out height for three rows; from the fourth row on,
// each row that would end below the sheet adds one row pitch.
constexpr int sheetHeight(int files) { return SheetHeight + RowPitch * std::max(0, rows(files) - 3); }

// How far the sheet can be lifted: the scroll bar's travel, 0 when all fits.
constexpr int scrollTravel(int files) { return sheetHeight(files) - SheetHeight; }

} // namespace picker::grid
