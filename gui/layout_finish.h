// Completing the records of a layout: what the reader does at the end of a
// panel, a data field and a key, and the post-processing of a whole layout.
#pragma once

#include <string>

#include "gui/layout.h"

// Completes a data field at its end: a Label, PushB or CheckBox without
// Text takes its Name, else its kind name; an RBGroup without Text takes
// its Label (which is then no label), else its Name, else "RBGroup". A
// Text, Label, OptMenu, HSep or VSep that still has a Label is moved into a
// new HLblData (side label) or VLblData (LabelType Top) in its place, after
// a Label widget with the label text (font class "sidelabel" or
// "toplabel", "hsep" or "vsep" for separators); the container takes the
// field's PercentX, PercentY and BorderSize, stretches both ways and keeps
// 5 (side) or 3 (top) pixels between label and field.
void GUIEndField(GUILayout* layout, GUIWidget* w);

// Completes a panel at its end: the adjustments of Single and ScrollWin,
// unset adjustments 0 (100 for List), unset margins 3 with a Title or a
// Frame else 0, unset spacing 3 for row and column panels and lists else
// 0; a ListView with a child other than LVCol reports "Illegal Child Type
// for ListView: %s" (the panel's name) at once; a List gets its ListHdr
// (from Header) and ListDet children.
void GUIEndPanel(GUILayout* layout, GUIWidget* w, std::string* message);

// Completes a key at its end: a key without Key is dropped; a key without
// Text gets "Ctrl+", "Alt+", "Shift+" (those it has) and the Key text; the
// Key is read (GUIParseKey).
void GUIEndKey(GUILayout* layout, GUIKey* key);

// Post-processing of a parsed layout: the key array (newest first, index
// and command, unnamed keys named by their Key), the menu-item array (file
// order, index and command, accelerators bound by key name), default names
// "%s_%d", the traversal ring (widgets that take part in traversal, in tree
// order, Next names followed), the ring of tab groups (TabNext names
// followed), each widget's tab group, and the tab style when not given:
// Visible with two or more tab groups, else None with exactly one tab
// stop, else Current.
void GUIFinishLayout(GUILayout* layout);
