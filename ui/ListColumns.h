// SPDX-License-Identifier: GPL-3.0-or-later
// Columns of the report-style lists (people, attachments): the user drags every column,
// the last one takes what is left, and each starts as wide as what it shows.
#pragma once

class QTreeView;

namespace tandrel {

// Interactive sections, the last stretching, long texts elided in the middle.
void MakeColumnsResizable(QTreeView& view);

// Sizes every column but the last to its header and contents, each bounded so that one
// very long value cannot take the whole list. When the columns together are wider than
// the list, the widest give way until all are in view (each keeps its tooltip and the
// user can widen it). Large lists are sampled, not read whole.
void FitColumnsToContents(QTreeView& view);

// Fits the columns now and whenever the list changes size or rows arrive, until the user
// drags a column; a reset of the model, or rows arriving in an empty list, fit them again.
void KeepColumnsFitted(QTreeView& view);

// The widest a column is made by FitColumnsToContents.
int MaxFittedColumnWidth(const QTreeView& view);

} // namespace tandrel
