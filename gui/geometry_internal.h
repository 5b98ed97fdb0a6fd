// What the geometry's parts share (not for other modules).
#pragma once

#include "gui/layout.h"
#include "platform/window.h"

// Computes a Form's grid from its children's sizes: column widths and row
// heights (minimum and preferred), the first used column and row, the gaps
// and the grid's sizes without the overhead.
void GUIFormGrid(GUIWidget* form, const PlatScreenMeasures* screen);

// Gives a Form's children their cells for the size the form has.
void GUIFormCells(GUIWidget* form);

// The columns and rows a Form child spans, and its cell: from the data
// part of a labelled container.
void GUIFormSpan(const GUIWidget* child, int* row, int* col, int* rows, int* cols);

// 1 for a side-labelled container that lines its data up with its
// siblings' (DataAlign not off).
inline bool GUIAlignedLabel(const GUIWidget* c) {
  return c->kind == GUI_HLBLDATA && !c->data_align_off && c->child && c->child->next;
}
