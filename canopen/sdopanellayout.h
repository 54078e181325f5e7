#pragma once

class QTableWidget;

// Column widths of the SDO panel's tables, from the widest usual text of
// each column in the table's font, so that no cell is cut in its column.
namespace SdoPanelLayout {

// The node table: every column but the stretched last one (emergencies).
void fitNodeColumns(QTableWidget *table);
// The transfer log: every column but the stretched last one (value or result).
void fitLogColumns(QTableWidget *table);

} // namespace SdoPanelLayout
