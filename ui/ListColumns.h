// Columns of the report-style lists (people, attachments): the user drags every column,
// the last one takes what is left, and each starts as wide as what it shows.
#pragma once

class QTreeView;

namespace tandrel {

// Interactive sections, the last stretching, long texts elided in the middle.
void MakeColumnsResizable(QTreeView& view);

// Sizes every column but the last to its header and contents, each bounded so that one
// very long value cannot take the whole list. Large lists are sampled, not read whole.
void FitColumnsToContents(QTreeView& view);

// The widest a column is made by FitColumnsToContents.
int MaxFittedColumnWidth(const QTreeView& view);

} // namespace tandrel
