// The geometry of a widget tree: pure functions of the records, their
// fonts and the screen measures. GUICalCSize computes minimum and
// preferred sizes bottom-up; GUISetSize shares a given size among the
// children top-down and GUISetPos places them inside their parents; the
// top-level placement, the relayout sizes and the status-bar parts are
// functions of sizes alone.
//
// Every pass recurses at most as deep as the tree (the reader refuses
// layouts nested deeper than kGUILayoutDepthMax).
#pragma once

#include "gui/layout.h"
#include "platform/window.h"

// Most parts a status bar's Parts gives (one more takes the rest).
constexpr int kGUIStatusPartsMax = 99;

// Gives every widget of the layout that has none its font: its FontClass,
// else the default class of its kind ("tabf", "list", "listview", "text",
// "label", "pushb", "checkbox", "rbgroup", "optmenu", "listhdr",
// "listdet", "treeview", "pnltitle" for Frame), else "list" for list
// header and rows, else "default" (mandatory), in the layout's font set.
void GUIAssignFonts(GUILayout* layout);

// The maximum text length a picture format gives: one per position ("x",
// "9", ...), a count in parentheses repeats the character before it,
// quoted text and the character after a backslash count as written. For a
// choice list ("Yes:No") the longest choice.
int GUIFormatLength(const char* format, int data_type);

// Computes the minimum and preferred sizes of `w` and everything below it
// (fonts assigned first). A kind above kGUIKindMax reports "Illegal type
// in GUICalCSize() - Type: %d" and is skipped.
void GUICalCSize(GUIWidget* w, const PlatScreenMeasures* screen);

// Gives `w` the size width x height and shares it among its children (and
// theirs). "Illegal type in GUISetSize() - Type: %d" for a bad kind.
void GUISetSize(GUIWidget* w, int width, int height, const PlatScreenMeasures* screen);

// Places the children of `w` (and theirs) in the spaces GUISetSize gave
// them: x and y relative to the parent. "Illegal type in GUISetPos() -
// Type: %d" for a bad kind.
void GUISetPos(GUIWidget* w);

// What the top-level placement works from.
struct GUIPlaceIn {
  int root_min_width, root_min_height;   // the root's minimum size (BorderSize included)
  int root_pref_width, root_pref_height; // its preferred size
  int frame_width, frame_height;         // what the window frame adds (both sides, caption)
  int menu_height;                       // menu bar height (0 without)
  int status_height;                     // status bar height (0 without)
  PlatRect work_area;                    // the chosen monitor's work area
  int screen_width, screen_height;       // the whole screen
  int has_owner;                         // 1: the window has an owner
  PlatRect owner;                        // the owner window's rectangle
};

// The top-level placement.
struct GUIPlaceOut {
  PlatRect window;              // the window rectangle
  int min_track_width, min_track_height; // minimum track size
  int max_track_width, max_track_height; // maximum track size
};

// Places a layout's window: the size from the root's preferred size (or
// the layout's percentages), kept inside the work area and not below the
// minimum; the position from PercentX/PercentY, else XPos/YPos, else the
// work area's origin; inside the work area. With an owner, percentages and
// positions refer to the owner's rectangle unless PosAbsolute or
// SizeAbsolute.
void GUIPlaceWindow(const GUILayout* layout, const GUIPlaceIn* in, GUIPlaceOut* out);

// Lays the root out for a new client size: the root gets the client area
// less the status bar and sits at its BorderSize inset.
void GUIRelayout(GUILayout* layout, int client_width, int client_height, const PlatScreenMeasures* screen);

// The right edges of the status-bar parts for `width` pixels from Parts
// (percentages separated by ":", at most kGUIStatusPartsMax used): each
// part its percentage from the left; a part reaching the right edge is the
// last and ends there; width left after the last entry makes one more
// part. Without Parts one part. Writes at most `max` edges; the count.
int GUIStatusParts(const char* parts, int width, int* rights, int max);

// Computes a whole layout for a client size: fonts, sizes, then the root
// sized to width x height (its preferred size where either is below 1)
// and every widget placed.
void GUIComputeLayout(GUILayout* layout, int width, int height, const PlatScreenMeasures* screen);
