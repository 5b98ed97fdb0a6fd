// Attribute values of layout files, applied to the records they set (used
// by the layout reader). Every function takes the attribute's name (any
// case) and value; an empty value or a name the object does not know
// changes nothing. A message that fails the load is put in *problem (the
// caller appends the line suffix); other values that do not fit are
// ignored.
#pragma once

#include <string>

#include "gui/layout.h"

// 1 when `name` is one of the attribute names that may be written as an
// element of its own, else 0.
int GUIIsAttributeName(const char* name);

// Reads an integer as atoi would (blanks, sign, digits; the rest ignored):
// 1 with *out, or 0 when there are no digits or it is beyond an int.
int GUIParseInt(const char* text, int* out);

// Sets an attribute of the layout.
void GUISetLayoutAttr(GUILayout* layout, const char* name, const char* value, std::string* problem);

// Sets an attribute of a panel or data field.
void GUISetWidgetAttr(GUILayout* layout, GUIWidget* w, const char* name, const char* value,
                      std::string* problem);

// Sets an attribute of an Item.
void GUISetItemAttr(GUIItem* item, const char* name, const char* value);

// Sets an attribute of a menu.
void GUISetMenuAttr(GUIMenu* menu, const char* name, const char* value);

// Sets an attribute of a menu item.
void GUISetMenuItemAttr(GUIMenuItem* item, const char* name, const char* value);

// Sets an attribute of a tree item.
void GUISetTreeItemAttr(GUITreeItem* item, const char* name, const char* value);

// Sets an attribute of a key.
void GUISetKeyAttr(GUIKey* key, const char* name, const char* value);

// Reads a Key value into key->code, is_char and valid: "^" and a letter
// (either case) the control character of that letter; one letter its
// upper-case key code; F1 to F24, CANCEL, BACK, TAB, ESCAPE, NEXT, END,
// HOME, LEFT, UP, RIGHT, DOWN, PRINT, INSERT, DELETE, HELP (any case) the
// named key; any other single character that character; else not valid.
void GUIParseKey(GUIKey* key);
